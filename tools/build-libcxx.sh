#!/usr/bin/env bash
# The nearest stand-in for Apple's toolchain here: clang with LLVM's libc++ (Debian's
# libc++-14-dev, libc++abi-14-dev), every warning of the project's own code an error
# (NIMBRA_WARNINGS_AS_ERRORS). Builds the OFX layer, the module and the host library into
# build-libcxx/ without the vector instructions (NIMBRA_SIMD=OFF: the plain code, as Apple's arm64 processors run it), then checks the module: it carries libc++
# (linked in, as the module's runtime always is on Linux), exports only the two entry points,
# and renders the example byte for byte like the g++ build, loaded by the normal build's
# nimbra-render (a libstdc++ program: the module's C interface keeps the two runtimes apart).
#   bash tools/build-libcxx.sh [--tests] [path/to/nimbra-render]
# (default build/renderer/nimbra-render). With --tests it also builds the reference module and
# the test suites, with GoogleTest built from its sources against libc++
# (NIMBRA_GTEST_FROM_SOURCE: Debian's GoogleTest is built against libstdc++), and runs them.
# nimbra-render and its tests are not built here: Debian's OpenEXR is built against libstdc++.
set -euo pipefail
cd "$(dirname "$0")/.."
jobs=$(nproc 2>/dev/null || echo 2)
tests=OFF
if [ "${1:-}" = --tests ]; then
    tests=ON
    shift
fi
render=${1:-build/renderer/nimbra-render}
build=build-libcxx
module=$build/Nimbra_JP.ofx.bundle/Contents/Linux-x86-64/Nimbra_JP.ofx

CC=clang CXX=clang++ cmake -S . -B "$build" -DCMAKE_BUILD_TYPE=RelWithDebInfo \
    -DNIMBRA_BUILD_TESTS=$tests -DNIMBRA_GTEST_FROM_SOURCE=$tests -DNIMBRA_SIMD=OFF \
    -DCMAKE_DISABLE_FIND_PACKAGE_OpenEXR=ON --no-warn-unused-cli \
    -DNIMBRA_WARNINGS_AS_ERRORS=ON -DCMAKE_CXX_FLAGS="-stdlib=libc++" \
    -DCMAKE_EXE_LINKER_FLAGS="-stdlib=libc++" -DCMAKE_MODULE_LINKER_FLAGS="-stdlib=libc++" \
    -DCMAKE_SHARED_LINKER_FLAGS="-stdlib=libc++" >/dev/null
cmake --build "$build" -j "$jobs"

fail() { echo "FAIL: $*" >&2; exit 1; }
# libc++'s inline namespace is std::__1; libstdc++ has none of its symbols.
grep -q 'std::__1::' <(nm -C "$module") || fail "$module was not built with libc++"
exports=$(nm -D --defined-only "$module" | awk '{ print $3 }' | sort | tr '\n' ' ')
[ "$exports" = "OfxGetNumberOfPlugins OfxGetPlugin " ] ||
    fail "$module exports more or less than the two entry points: $exports"
echo "ok: $module is built with libc++ and exports only OfxGetNumberOfPlugins, OfxGetPlugin"

[ -x "$render" ] || fail "no nimbra-render at $render (build the normal tree first)"
output=$build/example-output.png
rm -f "$output"
source examples/example-options.sh
"$render" --plugin "$build/Nimbra_JP.ofx.bundle" examples/input.png "$output" \
    "${example_options[@]}"
cmp -s "$output" examples/expected.png || fail "the libc++ module's render differs from examples/expected.png"
echo "ok: the libc++ module renders examples/input.png into examples/expected.png"

if [ "$tests" = ON ]; then
    ctest --test-dir "$build" --output-on-failure -j "$jobs"
fi
