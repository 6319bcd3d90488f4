#!/bin/bash
# Usage: check_exports_win64.sh <objdump> <module.ofx>
# A Windows host finds the module by these two exports alone, and LoadLibrary fails on a
# machine without MinGW's runtime DLLs, so the module may import only Windows' own DLLs.
set -euo pipefail
objdump=$1
module=$2

headers=$("$objdump" -p "$module")

# The export table's name list: "[   0] OfxGetNumberOfPlugins" lines after "[Ordinal/Name Pointer]".
exports=$(awk '/\[Ordinal\/Name Pointer\] Table/ {names = 1; next}
               names && /^\t\[ *[0-9]+\] / {print $NF; next}
               names {names = 0}' <<<"$headers" | sort)
expected=$(printf '%s\n' OfxGetNumberOfPlugins OfxGetPlugin | sort)
if [[ "$exports" != "$expected" ]]; then
    echo "exported names differ; got:" >&2
    echo "$exports" >&2
    exit 1
fi

imports=$(awk '/DLL Name:/ {print $NF}' <<<"$headers")
if [[ -z "$imports" ]]; then
    echo "no imported DLL at all: objdump did not read the module" >&2
    exit 1
fi
foreign=$(grep -v -i -E '^(kernel32|msvcrt|ucrtbase)\.dll$|^api-ms-win-crt-[a-z0-9-]+\.dll$' \
          <<<"$imports" || true)
if [[ -n "$foreign" ]]; then
    echo "imports DLLs that are not part of Windows:" >&2
    echo "$foreign" >&2
    exit 1
fi
echo "exports: $(echo $exports); imports: $(echo $imports)"
