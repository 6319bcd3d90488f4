#!/usr/bin/env bash
# Builds the release packages into dist/:
#   Nimbra_JP-<version>.zip   one Nimbra_JP.ofx.bundle with the Linux and the Win64 module and
#                             the icon, for C:\Program Files\Common Files\OFX\Plugins or
#                             /usr/OFX/Plugins
#   nimbra_<version>_<arch>.deb  the Linux bundle in /usr/OFX/Plugins, nimbra-render in /usr/bin
# then checks what went into both (tools/check-package.sh). tools/check-deb.sh installs the
# .deb and removes it again (as root).
# Needs the MinGW-w64 cross compilers (g++-mingw-w64-x86-64-posix) and dpkg-dev.
set -euo pipefail
cd "$(dirname "$0")/.."
root=$PWD
jobs=$(nproc 2>/dev/null || echo 2)

step() { echo; echo "==== $*"; }

step "Linux module and nimbra-render (build-pkg-linux)"
cmake -S . -B build-pkg-linux -DCMAKE_BUILD_TYPE=Release -DNIMBRA_BUILD_TESTS=OFF >/dev/null
cmake --build build-pkg-linux -j "$jobs"

step "Win64 module (build-pkg-win64)"
cmake -S . -B build-pkg-win64 --no-warn-unused-cli --toolchain cmake/toolchains/mingw-w64-x86_64.cmake \
    -DCMAKE_BUILD_TYPE=Release -DNIMBRA_BUILD_TESTS=OFF >/dev/null
cmake --build build-pkg-win64 -j "$jobs" --target Nimbra_JP

# project() is the one place the version is written; configuring writes it out.
version=$(cat build-pkg-linux/nimbra-version.txt)
linux_bundle=build-pkg-linux/Nimbra_JP.ofx.bundle
win64_bundle=build-pkg-win64/Nimbra_JP.ofx.bundle
mkdir -p dist

step "dist/Nimbra_JP-$version.zip"
staging=build-pkg-linux/zip-staging
rm -rf "$staging"
bundle=$staging/Nimbra_JP.ofx.bundle/Contents
mkdir -p "$bundle/Linux-x86-64" "$bundle/Win64" "$bundle/Resources"
cp "$linux_bundle/Contents/Linux-x86-64/Nimbra_JP.ofx" "$bundle/Linux-x86-64/"
cp "$win64_bundle/Contents/Win64/Nimbra_JP.ofx" "$bundle/Win64/"
cp plugin/resources/com.example.nimbra.jp.png "$bundle/Resources/"
# Symbols only the linker needed (the export tables stay): the Win64 module shrinks to half.
strip --strip-unneeded "$bundle/Linux-x86-64/Nimbra_JP.ofx"
x86_64-w64-mingw32-strip --strip-unneeded "$bundle/Win64/Nimbra_JP.ofx"
chmod 755 "$bundle/Linux-x86-64/Nimbra_JP.ofx" "$bundle/Win64/Nimbra_JP.ofx"
chmod 644 "$bundle/Resources/com.example.nimbra.jp.png"
zip=$root/dist/Nimbra_JP-$version.zip
rm -f "$zip"
# CMake's own archiver: no zip program needed. Entries carry the last commit's time.
mtime=$(git log -1 --format=%cd --date=format:'%Y-%m-%d %H:%M:%S' 2>/dev/null || true)
(cd "$staging" && cmake -E tar cf "$zip" --format=zip ${mtime:+"--mtime=$mtime"} \
    Nimbra_JP.ofx.bundle)

step "Debian package"
rm -rf build-pkg-linux/cpack
(cd build-pkg-linux && cpack -G DEB -B "$root/build-pkg-linux/cpack")
debs=(build-pkg-linux/cpack/*.deb)
[ ${#debs[@]} -eq 1 ] || { echo "expected one .deb, found: ${debs[*]}" >&2; exit 1; }
rm -f dist/nimbra_*.deb
cp "${debs[0]}" dist/
deb=dist/$(basename "${debs[0]}")

step "Checking the packages"
NIMBRA_RENDER=build-pkg-linux/renderer/nimbra-render \
    bash tools/check-package.sh "dist/Nimbra_JP-$version.zip" "$deb"

step "Written"
ls -l "dist/Nimbra_JP-$version.zip" "$deb"
