#!/usr/bin/env bash
# Checks what tools/package.sh put into the packages, without installing anything:
#   bash tools/check-package.sh dist/Nimbra_JP-<version>.zip [dist/nimbra_<version>_<arch>.deb]
# The zip must hold one Nimbra_JP.ofx.bundle with exactly the Linux module (an x86-64 ELF
# shared object), the Win64 module (an x86-64 PE DLL) and the icon, and nothing else; each
# module exports only the two entry points and needs nothing but the system's C library
# (Windows' own DLLs). With NIMBRA_RENDER naming a nimbra-render, the zip's Linux module must
# render the example exactly. The .deb must hold exactly the Linux module, the icon and
# nimbra-render, both binaries stripped, its module the same bytes as the zip's.
set -euo pipefail
[ $# -ge 1 ] && [ $# -le 2 ] || { echo "usage: $0 ZIP [DEB]" >&2; exit 2; }
zip=$(realpath "$1")
deb=${2:+$(realpath "$2")}
cd "$(dirname "$0")/.."

failures=0
fail() {
    local message="$*"
    [ ${#message} -le 400 ] || message="${message:0:400}..."
    echo "FAIL: $message" >&2
    failures=$((failures + 1))
}
ok() { echo "ok: $*"; }

bundle=Nimbra_JP.ofx.bundle
linux_module=$bundle/Contents/Linux-x86-64/Nimbra_JP.ofx
win64_module=$bundle/Contents/Win64/Nimbra_JP.ofx
icon=$bundle/Contents/Resources/com.example.nimbra.jp.png

# Bytes COUNT at OFFSET of FILE as hex without spaces.
bytes() { od -An -tx1 -j "$2" -N "$3" "$1" | tr -d ' \n'; }
# True for an ELF file without a symbol table (stripped; the dynamic one stays).
stripped() { [ -f "$1" ] && ! readelf -S --wide "$1" | grep -q ' \.symtab '; }

echo "== $zip"
entries=$(cmake -E tar tf "$zip")
echo "$entries"
expected_files=$(printf '%s\n' "$linux_module" "$win64_module" "$icon" | sort)
expected_dirs=$(printf '%s/\n' "$bundle" "$bundle/Contents" "$bundle/Contents/Linux-x86-64" \
    "$bundle/Contents/Win64" "$bundle/Contents/Resources" | sort)
files=$(grep -v '/$' <<<"$entries" | sort || true)
dirs=$(grep '/$' <<<"$entries" | sort || true)
if [ "$files" = "$expected_files" ]; then
    ok "the zip holds exactly the two modules and the icon"
else
    fail "the zip's files differ from the bundle's three:$(diff <(echo "$expected_files") <(echo "$files") | sed 's/^/ /')"
fi
unexpected_dirs=$(comm -13 <(echo "$expected_dirs") <(echo "$dirs") | grep . || true)
[ -z "$unexpected_dirs" ] && ok "no other directories" ||
    fail "unexpected directories in the zip: $unexpected_dirs"
[ "$(sort <<<"$entries" | uniq -d)" = "" ] || fail "entries appear twice in the zip"

scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT
(cd "$scratch" && cmake -E tar xf "$zip")

# ELF, 64-bit, little-endian, shared object (e_type 3), x86-64 (e_machine 0x3e).
m=$scratch/$linux_module
if [ -f "$m" ] && [ "$(bytes "$m" 0 6)" = 7f454c460201 ] && [ "$(bytes "$m" 16 4)" = 03003e00 ]; then
    ok "Linux-x86-64/Nimbra_JP.ofx is an x86-64 ELF shared object"
else
    fail "Linux-x86-64/Nimbra_JP.ofx is not an x86-64 ELF shared object"
fi
[ -x "$m" ] && ok "Linux-x86-64/Nimbra_JP.ofx is executable" ||
    fail "Linux-x86-64/Nimbra_JP.ofx lost its executable bit"
stripped "$m" && ok "Linux-x86-64/Nimbra_JP.ofx is stripped" ||
    fail "Linux-x86-64/Nimbra_JP.ofx has a symbol table (not stripped)"

# MZ stub, then the PE header at the offset stored at 0x3c: machine AMD64 (0x8664) and the
# DLL flag (0x2000) in its characteristics.
m=$scratch/$win64_module
if [ -f "$m" ] && [ "$(bytes "$m" 0 2)" = 4d5a ]; then
    pe=$((16#$(od -An -tx4 -j 60 -N 4 "$m" | tr -d ' ')))
    characteristics=$((16#$(od -An -tx2 -j $((pe + 22)) -N 2 "$m" | tr -d ' ')))
    if [ "$(bytes "$m" "$pe" 6)" = 504500006486 ] && ((characteristics & 0x2000)); then
        ok "Win64/Nimbra_JP.ofx is an x86-64 PE DLL"
    else
        fail "Win64/Nimbra_JP.ofx is not an x86-64 PE DLL"
    fi
else
    fail "Win64/Nimbra_JP.ofx is not a Windows executable"
fi

m=$scratch/$linux_module
exports=$(nm -D --defined-only "$m" | awk '{ print $3 }' | sort | tr '\n' ' ')
[ "$exports" = "OfxGetNumberOfPlugins OfxGetPlugin " ] &&
    ok "Linux-x86-64/Nimbra_JP.ofx exports only the entry points" ||
    fail "Linux-x86-64/Nimbra_JP.ofx exports: $exports"
needed=$(objdump -p "$m" | awk '$1 == "NEEDED" { print $2 }' | sort | tr '\n' ' ')
foreign=$(tr ' ' '\n' <<<"$needed" |
    grep -vE '^(libc\.so\.6|libm\.so\.6|libpthread\.so\.0|libdl\.so\.2|ld-linux-x86-64\.so\.2)?$' || true)
[ -n "$needed" ] && [ -z "$foreign" ] &&
    ok "Linux-x86-64/Nimbra_JP.ofx needs only the C library: $needed" ||
    fail "Linux-x86-64/Nimbra_JP.ofx needs more than the C library: $needed"

m=$scratch/$win64_module
pe_info=$(x86_64-w64-mingw32-objdump -p "$m")
exports=$(awk '/^\[Ordinal\/Name Pointer\] Table/ { on = 1; next } on && /^\t\[/ { print $NF; next }
               on { exit }' <<<"$pe_info" | sort | tr '\n' ' ')
[ "$exports" = "OfxGetNumberOfPlugins OfxGetPlugin " ] &&
    ok "Win64/Nimbra_JP.ofx exports only the entry points" ||
    fail "Win64/Nimbra_JP.ofx exports: $exports"
dlls=$(awk '/DLL Name:/ { print $3 }' <<<"$pe_info" | sort -u | tr '\n' ' ')
foreign=$(tr ' ' '\n' <<<"$dlls" | grep -viE '^(kernel32\.dll|msvcrt\.dll|api-ms-win-crt-.*\.dll)?$' || true)
[ -n "$dlls" ] && [ -z "$foreign" ] &&
    ok "Win64/Nimbra_JP.ofx imports only $dlls" ||
    fail "Win64/Nimbra_JP.ofx imports $dlls"

if [ -n "${NIMBRA_RENDER:-}" ]; then
    source examples/example-options.sh
    "$NIMBRA_RENDER" --plugin "$scratch/$bundle" examples/input.png "$scratch/output.png" \
        "${example_options[@]}" &&
        cmp -s "$scratch/output.png" examples/expected.png &&
        ok "the zip's Linux module renders examples/input.png into examples/expected.png" ||
        fail "the zip's Linux module does not render examples/input.png into examples/expected.png"
fi

cmp -s "$scratch/$icon" plugin/resources/com.example.nimbra.jp.png &&
    ok "the icon is plugin/resources/com.example.nimbra.jp.png" ||
    fail "the icon differs from plugin/resources/com.example.nimbra.jp.png"

if [ -n "$deb" ]; then
    echo
    echo "== $deb"
    dpkg-deb -c "$deb"
    prefix=./usr/OFX/Plugins
    expected=$(printf '%s\n' "$prefix/$linux_module" "$prefix/$icon" ./usr/bin/nimbra-render | sort)
    actual=$(dpkg-deb -c "$deb" | awk '$1 !~ /^d/ { print $6 }' | sort)
    if [ "$actual" = "$expected" ]; then
        ok "the .deb installs the Linux module, the icon and nimbra-render, nothing else"
    else
        fail "the .deb's files differ:$(diff <(echo "$expected") <(echo "$actual") | sed 's/^/ /')"
    fi
    # Both binaries stripped; the module the very one of the zip.
    unpacked=$scratch/deb
    dpkg-deb -x "$deb" "$unpacked"
    for binary in "$prefix/$linux_module" ./usr/bin/nimbra-render; do
        stripped "$unpacked/$binary" && ok "the .deb's ${binary#./} is stripped" ||
            fail "the .deb's ${binary#./} has a symbol table (not stripped)"
    done
    cmp -s "$unpacked/$prefix/$linux_module" "$scratch/$linux_module" &&
        ok "the .deb's module is the zip's Linux module, byte for byte" ||
        fail "the .deb's module differs from the zip's Linux module"
    [ "$(dpkg-deb -f "$deb" Package)" = nimbra ] && ok "package name nimbra" ||
        fail "the package is not named nimbra"
    version=$(basename "$zip" .zip)
    version=${version#Nimbra_JP-}
    [ "$(dpkg-deb -f "$deb" Version)" = "$version" ] && ok "version $version, as the zip's" ||
        fail "the .deb's version $(dpkg-deb -f "$deb" Version) is not the zip's $version"
    depends=$(dpkg-deb -f "$deb" Depends)
    [[ $depends == *libpng16* && $depends == *libopenexr* ]] &&
        ok "depends on libpng and OpenEXR: $depends" ||
        fail "the .deb does not depend on libpng and OpenEXR: '$depends'"
fi

echo
if [ "$failures" -ne 0 ]; then
    echo "$failures check(s) failed" >&2
    exit 1
fi
echo "all package checks passed"
