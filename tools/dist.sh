#!/bin/sh
# make dist: the release files, built from a clean tree, written into
# DIST_DIR (default dist/):
#   kvr-reader-VERSION-windows-x64.zip     KvrReader.exe, kvr-download.exe, README.txt, LICENSE
#   kvr-download-VERSION-linux-x64.tar.gz  kvr-download, kvr-sim, README, LICENSE
#   SHA256SUMS                             over both
# The same tree gives the same bytes: every file in both archives has the
# time of the last commit, the archives list their files in name order,
# with fixed owners and modes, and the programs carry no build path or time.
set -e
root=$(pwd)
out=${DIST_DIR:-$root/dist}
work=$root/build/dist
epoch=$(git -C "$root" log -1 --format=%ct 2>/dev/null || true)
[ -n "$epoch" ] || epoch=1767225600  # 2026-01-01, outside a checkout
export SOURCE_DATE_EPOCH=$epoch

rm -rf "$work"
mkdir -p "$work/stage" "$out"
echo "Building the release programs in $work"
cmake -S "$root" -B "$work/native" -DCMAKE_BUILD_TYPE=Release -DKVR_RELEASE=ON >/dev/null
cmake --build "$work/native" -j 2 --target kvr-download kvr-sim >/dev/null
cmake -S "$root" -B "$work/win" -DCMAKE_BUILD_TYPE=Release -DKVR_RELEASE=ON \
    -DCMAKE_TOOLCHAIN_FILE="$root/cmake/mingw-w64.cmake" >/dev/null
cmake --build "$work/win" -j 2 --target KvrReader kvr-download >/dev/null
version=$(cat "$work/native/VERSION")
windows=kvr-reader-$version-windows-x64
linux=kvr-download-$version-linux-x64

# The Windows folder: text files with CR LF, the guide in UTF-8 with a BOM,
# so that Notepad shows its Chinese half on any code page.
w="$work/stage/$windows"
mkdir -p "$w"
cp "$work/win/KvrReader.exe" "$work/win/kvr-download.exe" "$w/"
{
    printf '\357\273\277'
    sed "s/@VERSION@/$version/" "$root/resources/user-guide.txt" | sed 's/$/\r/'
} >"$w/README.txt"
sed 's/$/\r/' "$root/LICENSE" >"$w/LICENSE"

# The Linux folder: the two tools, their own help as the README.
l="$work/stage/$linux"
mkdir -p "$l"
cp "$work/native/kvr-download" "$work/native/kvr-sim" "$l/"
{
    echo "kvr-download $version and kvr-sim $version for Linux (x86-64)"
    echo
    echo "kvr-download downloads the records of a KVR620/KVR680 total station from"
    echo "a serial port; kvr-sim plays such an instrument on a pseudo-terminal, for"
    echo "trying kvr-download and the desktop tool without one. Both need only the"
    echo "C library. The texts below are what --help prints."
    echo
    echo "================================================================ kvr-download --help"
    echo
    "$l/kvr-download" --help
    echo
    echo "================================================================ kvr-sim --help"
    echo
    "$l/kvr-sim" --help
} >"$l/README"
cp "$root/LICENSE" "$l/LICENSE"
chmod 0755 "$w/KvrReader.exe" "$w/kvr-download.exe" "$l/kvr-download" "$l/kvr-sim"
chmod 0644 "$w/README.txt" "$w/LICENSE" "$l/README" "$l/LICENSE"

rm -f "$out/$windows.zip" "$out/$linux.tar.gz"
python3 - "$work/stage" "$windows" "$out/$windows.zip" "$epoch" <<'PYTHON'
import os, sys, time, zipfile
stage, folder, target, epoch = sys.argv[1], sys.argv[2], sys.argv[3], int(sys.argv[4])
stamp = time.gmtime(max(epoch, 315532800))[:6]  # a zip cannot hold a time before 1980
names = [folder + "/"] + sorted(folder + "/" + name for name in os.listdir(os.path.join(stage, folder)))
with zipfile.ZipFile(target, "w") as archive:
    for name in names:
        entry = zipfile.ZipInfo(name, date_time=stamp)
        entry.create_system = 3
        path = os.path.join(stage, name)
        if name.endswith("/"):
            entry.external_attr = (0o40755 << 16) | 0x10
            archive.writestr(entry, b"")
            continue
        entry.external_attr = (os.stat(path).st_mode & 0o777 | 0o100000) << 16
        entry.compress_type = zipfile.ZIP_DEFLATED
        with open(path, "rb") as source:
            archive.writestr(entry, source.read(), compresslevel=9)
PYTHON
tar --sort=name --mtime="@$epoch" --owner=0 --group=0 --numeric-owner --format=gnu \
    -C "$work/stage" -cf - "$linux" | gzip -9n >"$out/$linux.tar.gz"
(cd "$out" && sha256sum "$windows.zip" "$linux.tar.gz" >SHA256SUMS)
echo "Release files in $out:"
(cd "$out" && cat SHA256SUMS)
