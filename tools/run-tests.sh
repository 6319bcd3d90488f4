#!/usr/bin/env bash
# The whole test suite, as CI runs it: a normal build (the project's own code with warnings
# as errors, as in the Win64 and libc++ builds); the same tests built with
# AddressSanitizer and UndefinedBehaviorSanitizer; the threaded tests under ThreadSanitizer;
# whole host sessions under valgrind; and the session fuzzer for a minute.
set -euo pipefail
cd "$(dirname "$0")/.."
jobs=$(nproc 2>/dev/null || echo 2)

NIMBRA_WITH_CHECKS=1 bash tools/install-deps.sh

step() { echo; echo "==== $* (at ${SECONDS}s)"; }

step "Layout: clang-format decides it"
clang-format --dry-run -Werror $(git ls-files '*.h' '*.cpp')

step "Normal build and tests, warnings as errors"
cmake -S . -B build -DCMAKE_BUILD_TYPE=RelWithDebInfo -DNIMBRA_WARNINGS_AS_ERRORS=ON >/dev/null
cmake --build build -j "$jobs"
ctest --test-dir build --output-on-failure -j "$jobs"

step "Win64: the module cross-built with MinGW-w64 (warnings as errors), its imports and exports, the tests under Wine"
# Warnings are errors in the project's own code only: GoogleTest is built here from its sources.
cmake --preset win64 -DNIMBRA_WARNINGS_AS_ERRORS=ON >/dev/null
cmake --build --preset win64 -j "$jobs"
ctest --preset win64 -j "$jobs"
# Say by name what the Windows run leaves out, and why.
echo "Not run under Wine: nimbra-render's tests (Debian ships no libpng or OpenEXR for MinGW):"
listed() { ctest --test-dir "$1" -N | sed -n 's/^ *Test *#[0-9]*: \([^ ]*\).*/\1/p' | sort; }
comm -23 <(listed build) <(listed build-win64) |
    sed 's/^/    /'

step "clang and libc++, warnings as errors: the nearest stand-in here for Apple's toolchain"
bash tools/build-libcxx.sh build/renderer/nimbra-render

step "Release packages: the bundle zip for Linux and Windows, and the .deb, installed and removed"
bash tools/package.sh
if [ "$(id -u)" -eq 0 ]; then
    bash tools/check-deb.sh dist/nimbra_*_amd64.deb
else
    echo "  not run: tools/check-deb.sh installs the .deb and needs root"
fi

step "AddressSanitizer and UndefinedBehaviorSanitizer"
cmake -S . -B build-asan -DCMAKE_BUILD_TYPE=Debug -DNIMBRA_SANITIZE=address,undefined,float-cast-overflow >/dev/null
cmake --build build-asan -j "$jobs"
# The export check is about the unsanitized link (own C++ runtime, no undefined symbols);
# a sanitized module takes its runtime from the host by design, so it runs in the pass above.
ASAN_OPTIONS=detect_leaks=1 UBSAN_OPTIONS=print_stacktrace=1 \
    ctest --test-dir build-asan --output-on-failure -j "$jobs" \
    -E '^Boundary\.ExportsOnlyTheEntryPoints$'

step "ThreadSanitizer: every test that renders or runs the effect's threads"
# The tests labelled "threaded" (tests/CMakeLists.txt: instances, render, equivalence with its
# WithoutSimd runs, stress with the fuzzer's replay); nimbra_threaded_tests builds exactly
# their programs and the modules they load.
cmake -S . -B build-tsan -DCMAKE_BUILD_TYPE=RelWithDebInfo -DNIMBRA_SANITIZE=thread >/dev/null
cmake --build build-tsan -j "$jobs" --target nimbra_threaded_tests
TSAN_OPTIONS="halt_on_error=1 second_deadlock_stack=1" \
    ctest --test-dir build-tsan --output-on-failure -j "$jobs" -L threaded

step "valgrind memcheck: whole host sessions against the normal build"
# The load cycles and the fuzzer's committed sessions (faults, odd images, threads).
memcheck=(valgrind --quiet --error-exitcode=1 --leak-check=full
          --errors-for-leak-kinds=definite --show-leak-kinds=definite)
"${memcheck[@]}" build/tests/stress/stress_tests --gtest_filter='StressLoad.*'
"${memcheck[@]}" build/tests/stress/fuzz_session_replay fuzz/corpus fuzz/regressions >/dev/null

step "libFuzzer: whole sessions for 60 seconds from the committed corpus"
CC=clang CXX=clang++ cmake -S . -B build-fuzz -DCMAKE_BUILD_TYPE=RelWithDebInfo \
    -DNIMBRA_SANITIZE=address,undefined,float-cast-overflow -DNIMBRA_BUILD_FUZZ=ON -DNIMBRA_BUILD_TESTS=OFF >/dev/null
cmake --build build-fuzz -j "$jobs" --target nimbra_session_fuzzer
# New inputs go to a scratch directory; the committed corpus is only read.
scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT
ASAN_OPTIONS=detect_leaks=1 UBSAN_OPTIONS=print_stacktrace=1 \
    build-fuzz/fuzz/nimbra_session_fuzzer -max_total_time=60 -timeout=60 -print_final_stats=1 \
    -artifact_prefix=build-fuzz/ "$scratch" fuzz/corpus fuzz/regressions

step "All passed"
