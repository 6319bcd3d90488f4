#!/usr/bin/env bash
# Installs the Debian package that tools/package.sh made, checks that the installed
# nimbra-render finds the installed bundle and renders the example with it, removes the
# package and checks that everything it installed is gone. As root, on a machine without
# another nimbra package or installed copy:
#   bash tools/check-deb.sh dist/nimbra_<version>_<arch>.deb
set -euo pipefail
[ $# -eq 1 ] || { echo "usage: $0 PACKAGE.deb" >&2; exit 2; }
deb=$(realpath "$1")
cd "$(dirname "$0")/.."
repo=$PWD

bundle=/usr/OFX/Plugins/Nimbra_JP.ofx.bundle
render=/usr/bin/nimbra-render

refuse() { echo "check-deb: $*; not touching this machine's packages" >&2; exit 2; }
[ "$(id -u)" -eq 0 ] || refuse "needs root (dpkg -i, dpkg -r)"
[ -f "$deb" ] || refuse "no package at $1"
[ "$(dpkg-deb -f "$deb" Package)" = nimbra ] || refuse "$1 is not the nimbra package"
status=$(dpkg-query -W -f='${db:Status-Status}' nimbra 2>/dev/null || true)
case "$status" in
"" | not-installed | config-files) ;;
*) refuse "a nimbra package is already on this machine (status: $status); remove it first" ;;
esac
# Files dpkg would silently take over from an earlier cmake --install, and then remove.
for path in "$bundle" "$render"; do
    [ -e "$path" ] && refuse "$path exists (installed by hand?); move it away first"
done
ofx_dir_existed=0
[ -e /usr/OFX ] && ofx_dir_existed=1

installed=0
scratch=$(mktemp -d)
cleanup() {
    local rc=$?
    if [ "$installed" = 1 ]; then
        echo "check-deb: failed; removing the package again" >&2
        dpkg --purge nimbra >/dev/null || true
    fi
    rm -rf "$scratch"
    exit "$rc"
}
trap cleanup EXIT

fail() { echo "FAIL: $*" >&2; exit 1; }

echo "\$ dpkg -i $1"
installed=1
dpkg -i "$deb"
dpkg-query -W -f='${db:Status-Status}' nimbra | grep -qx installed || fail "dpkg -i did not install nimbra"
mapfile -t owned < <(dpkg -L nimbra)

# From a directory outside the repository, with no OFX_PLUGIN_PATH: only the standard places.
cd "$scratch"
echo
echo "\$ (cd $scratch && env -u OFX_PLUGIN_PATH $render --list)"
env -u OFX_PLUGIN_PATH "$render" --list | tee list.txt
[ "$(head -n 1 list.txt)" = "$bundle" ] || fail "nimbra-render did not load the installed bundle"
grep -q '^com\.example\.nimbra\.jp ' list.txt || fail "com.example.nimbra.jp is not listed"
echo "ok: the installed nimbra-render finds $bundle and lists com.example.nimbra.jp"

# The example, rendered by the installed program and module, as tools/run-example.sh does.
source "$repo/examples/example-options.sh"
env -u OFX_PLUGIN_PATH "$render" "$repo/examples/input.png" output.png "${example_options[@]}"
cmp -s output.png "$repo/examples/expected.png" || fail "the render differs from examples/expected.png"
echo "ok: the installed nimbra-render renders examples/input.png into examples/expected.png"
cd "$repo"

echo
echo "\$ dpkg -r nimbra"
dpkg -r nimbra
installed=0
status=$(dpkg-query -W -f='${db:Status-Status}' nimbra 2>/dev/null || true)
case "$status" in
"" | not-installed | config-files) ;;
*) fail "nimbra is still $status" ;;
esac
left=()
for path in "${owned[@]}"; do
    if [ -d "$path" ] && [ ! -L "$path" ]; then
        # Directories such as /usr and /usr/bin belong to other packages too; /usr/OFX and
        # its Plugins directory go only if the package made them.
        case "$path" in
        "$bundle" | "$bundle"/*) ;;
        /usr/OFX | /usr/OFX/*) [ "$ofx_dir_existed" = 0 ] || continue ;;
        *) continue ;;
        esac
    fi
    if [ -e "$path" ] || [ -L "$path" ]; then
        left+=("$path")
    fi
done
[ ${#left[@]} -eq 0 ] || fail "left behind by dpkg -r: ${left[*]}"
[ ! -e "$bundle" ] && [ ! -e "$render" ] || fail "$bundle or $render is still there"
echo "ok: dpkg -r removed all ${#owned[@]} paths it had installed ($bundle, $render)"
