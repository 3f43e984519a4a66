#!/bin/sh
# release_test.sh NATIVE_BUILD WIN_BUILD
# The release files as a user gets them:
#  - make dist twice from the same tree gives the same bytes, and
#    SHA256SUMS checks;
#  - KvrReader.exe from the zip, alone in an empty folder, completes
#    downloads under Wine (the GUI test case, run on that copy); it and
#    kvr-download.exe import nothing but system DLLs;
#  - kvr-download and kvr-sim from the tarball give their version and help
#    in a root that holds nothing but them and the C library.
set -e
native=$(cd "$1" && pwd)
win=$(cd "$2" && pwd)
root=$(pwd)
version=$(cat "$native/VERSION")
zip=kvr-reader-$version-windows-x64.zip
tarball=kvr-download-$version-linux-x64.tar.gz
work=$(mktemp -d /tmp/kvr-release-XXXXXX)
trap 'rm -rf "$work"' EXIT
fail() { echo "release test: $*" >&2; exit 1; }

echo "== make dist, twice"
DIST_DIR=$work/first make -s dist >/dev/null
DIST_DIR=$work/second make -s dist >/dev/null
for file in "$zip" "$tarball" SHA256SUMS; do
    [ -f "$work/first/$file" ] || fail "make dist wrote no $file"
    cmp "$work/first/$file" "$work/second/$file" || fail "$file differs between two runs of make dist"
done
(cd "$work/first" && sha256sum -c SHA256SUMS) || fail "SHA256SUMS does not check"

echo "== KvrReader.exe from the zip, alone in an empty folder"
mkdir "$work/unzipped"
(cd "$work/unzipped" && python3 -m zipfile -e "$work/first/$zip" .)
folder=$work/unzipped/kvr-reader-$version-windows-x64
for file in KvrReader.exe kvr-download.exe README.txt LICENSE; do
    [ -f "$folder/$file" ] || fail "the zip has no $file"
done
mkdir "$work/alone"
cp "$folder/KvrReader.exe" "$folder/kvr-download.exe" "$work/alone/"
for exe in KvrReader.exe kvr-download.exe; do
    imports=$(x86_64-w64-mingw32-objdump -p "$work/alone/$exe" | sed -n 's/.*DLL Name: //p' | tr 'a-z' 'A-Z' | sort)
    for dll in $imports; do
        case $dll in
            ADVAPI32.DLL|COMCTL32.DLL|COMDLG32.DLL|GDI32.DLL|KERNEL32.DLL|MSVCRT.DLL|SETUPAPI.DLL|SHELL32.DLL|USER32.DLL|WINMM.DLL) ;;
            *) fail "$exe needs $dll, which Windows does not have" ;;
        esac
    done
done
KVR_READER_EXE=$work/alone/KvrReader.exe LC_ALL= LC_MESSAGES= LANG=en_US.UTF-8 \
    sh "$root/tests/gui/run_gui_tests.sh" "$win" "$native" "$win/tests/gui_tests.exe" \
    --gtest_filter=MainDialog.DownloadsInBothDialectsAndAppends || fail "the unpacked KvrReader.exe did not complete its downloads"
# After the GUI case, and the Wine server ended after it: run just before
# the GUI case, its server was still up and the case saw no window.
said=$("$win/wine-run" "$work/alone/kvr-download.exe" --version 2>/dev/null | tr -d '\r')
WINEPREFIX="$win/wineprefix" wineserver -k 2>/dev/null || true
[ "$said" = "kvr-download $version" ] || fail "kvr-download.exe --version said: $said"

echo "== kvr-download and kvr-sim from the tarball, with nothing but the C library"
mkdir "$work/untarred"
tar -xzf "$work/first/$tarball" -C "$work/untarred"
folder=$work/untarred/kvr-download-$version-linux-x64
for file in kvr-download kvr-sim README LICENSE; do
    [ -f "$folder/$file" ] || fail "the tarball has no $file"
done
clean=$work/clean-root
mkdir -p "$clean"
cp "$folder/kvr-download" "$folder/kvr-sim" "$clean/"
for library in $( (ldd "$folder/kvr-download"; ldd "$folder/kvr-sim") | grep -o '/[^ ]*' | sort -u); do
    case $(basename "$library") in
        libc.so.*|libm.so.*|ld-linux*) ;;
        *) fail "the tools need $library beyond the C library" ;;
    esac
    mkdir -p "$clean$(dirname "$library")"
    cp "$library" "$clean$library"
done
run_clean() {
    chroot=$(command -v chroot || true)
    if [ "$(id -u)" = 0 ] && [ -n "$chroot" ]; then
        env -i "$chroot" "$clean" "/$1" "$2"
    else
        echo "(not root: run from the empty folder with an empty environment instead of a bare root)" >&2
        (cd "$clean" && env -i "./$1" "$2")
    fi
}
for tool in kvr-download kvr-sim; do
    [ "$(run_clean "$tool" --version)" = "$tool $version" ] || fail "$tool --version does not say $tool $version"
    run_clean "$tool" --help >"$work/$tool.help" || fail "$tool --help failed"
    grep -q "^usage: $tool" "$work/$tool.help" || fail "$tool --help gave no usage"
    grep -qF "$(head -3 "$work/$tool.help" | tail -1)" "$folder/README" || fail "the README lacks $tool --help"
done
echo "release files: reproducible, and both run alone"
