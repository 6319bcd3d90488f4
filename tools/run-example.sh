#!/usr/bin/env bash
# Builds the module and nimbra-render, renders examples/input.png with rounded corners and an
# outline in the accurate compositing mode, and checks the result byte for byte against
# examples/expected.png.
set -euo pipefail
cd "$(dirname "$0")/.."
jobs=$(nproc 2>/dev/null || echo 2)
build=build-example

bash tools/install-deps.sh

cmake -S . -B "$build" -DCMAKE_BUILD_TYPE=Release -DNIMBRA_BUILD_TESTS=OFF >/dev/null
cmake --build "$build" -j "$jobs" --target nimbra-render

output="$build/output.png"
source examples/example-options.sh
"$build/renderer/nimbra-render" examples/input.png "$output" "${example_options[@]}"

if ! cmp -s "$output" examples/expected.png; then
    echo "The render differs from examples/expected.png: $(realpath "$output")" >&2
    exit 1
fi
echo "Rendered $(realpath "$output") (identical to examples/expected.png)"
