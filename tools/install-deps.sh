#!/bin/sh
# Installs what the build and the tests need on a Debian machine, and the two
# locales the tests use. Quiet and quick when everything is already there.
# With "fuzz": clang and its libFuzzer runtime, for `make fuzz`.
set -e

PACKAGES="cmake make g++ python3 libgtest-dev googletest \
g++-mingw-w64-x86-64-posix mingw-w64-tools wine wine64 \
xvfb locales fonts-wqy-microhei x11-apps imagemagick"
if [ "$1" = fuzz ]; then
    PACKAGES="cmake make clang libclang-rt-dev libgtest-dev"
fi

missing=""
for package in $PACKAGES; do
    if ! dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q "install ok installed"; then
        missing="$missing $package"
    fi
done

if [ -n "$missing" ]; then
    if [ "$(id -u)" != 0 ]; then
        echo "Missing packages:$missing. Run this as root, or install them." >&2
        exit 1
    fi
    echo "Installing:$missing"
    apt-get update -qq
    DEBIAN_FRONTEND=noninteractive apt-get install -y -qq $missing >/dev/null
fi

[ "$1" = fuzz ] && exit 0

need_locales=""
for name in en_US zh_CN; do
    locale -a 2>/dev/null | grep -qix "$name.utf8" || need_locales=yes
done
if [ -n "$need_locales" ]; then
    if [ "$(id -u)" != 0 ]; then
        echo "The locales en_US.UTF-8 and zh_CN.UTF-8 are missing. Run this as root." >&2
        exit 1
    fi
    for name in en_US zh_CN; do
        grep -q "^$name.UTF-8 UTF-8" /etc/locale.gen 2>/dev/null || echo "$name.UTF-8 UTF-8" >> /etc/locale.gen
    done
    locale-gen >/dev/null
fi
