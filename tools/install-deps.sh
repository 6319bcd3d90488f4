#!/usr/bin/env bash
# Installs the Debian packages the build needs, if any is missing. Needs root (or sudo).
set -euo pipefail

packages=(cmake g++ make clang-format pkg-config libgtest-dev libgmock-dev libbenchmark-dev libpng-dev
          libopenexr-dev libimath-dev)
if [ "${NIMBRA_WITH_CHECKS:-0}" = 1 ]; then
    # Fuzzing (clang with its libFuzzer and sanitizer runtimes) and memory checks.
    packages+=(clang libclang-rt-14-dev valgrind)
    # The Win64 module and its tests (MinGW-w64, GoogleTest's sources, Wine to run them), and
    # the build against LLVM's libc++, the nearest stand-in here for Apple's toolchain.
    packages+=(g++-mingw-w64-x86-64-posix googletest wine wine64 libc++-14-dev libc++abi-14-dev)
    # The Debian package: CPack asks dpkg-shlibdeps for its dependencies.
    packages+=(dpkg-dev)
fi

missing=()
for p in "${packages[@]}"; do
    dpkg -s "$p" >/dev/null 2>&1 || missing+=("$p")
done
[ ${#missing[@]} -eq 0 ] && exit 0

sudo=""
[ "$(id -u)" -ne 0 ] && sudo="sudo"
echo "Installing: ${missing[*]}"
export DEBIAN_FRONTEND=noninteractive
$sudo apt-get update -qq
$sudo apt-get install -y -qq "${missing[@]}" >/dev/null
