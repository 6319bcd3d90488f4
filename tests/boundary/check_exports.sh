#!/bin/bash
# Usage: check_exports.sh <module>
# A host resolves the module by these two names alone; anything else exported can clash with
# the host's own symbols, and an imported C++ runtime symbol ties the module to the host's
# libstdc++.
set -euo pipefail
module=$1

defined=$(nm -D --defined-only "$module" | awk '{print $NF}' | sort)
expected=$(printf '%s\n' OfxGetNumberOfPlugins OfxGetPlugin | sort)
if [[ "$defined" != "$expected" ]]; then
    echo "exported symbols differ; got:" >&2
    echo "$defined" >&2
    exit 1
fi

undefined=$(nm -D --undefined-only "$module" | awk '{print $NF}')
if [[ -z "$undefined" ]]; then
    echo "no imported symbols at all: nm did not read the module" >&2
    exit 1
fi
if mangled=$(grep '^_Z' <<<"$undefined"); then
    echo "imports C++ symbols:" >&2
    echo "$mangled" >&2
    exit 1
fi
echo "exports and imports as expected"
