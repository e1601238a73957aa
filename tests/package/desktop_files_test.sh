#!/usr/bin/env bash
# The desktop entry and the AppStream metainfo file in data/ are as the validators want them:
# desktop-file-validate says nothing of the entry, and appstreamcli finds no error, warning or
# note (pedantic ones aside) in the metainfo file, laid out as the package installs the two, so
# that the file's name must be its id and its launchable must name the desktop entry.
set -euo pipefail
source=$2

fail() { echo "FAIL: $*" >&2; exit 1; }
command -v desktop-file-validate >/dev/null || fail "desktop-file-validate is missing (make deps installs desktop-file-utils)"
command -v appstreamcli >/dev/null || fail "appstreamcli is missing (make deps installs appstream)"

desktop=$source/data/lirenta.desktop
[ -f "$desktop" ] || fail "$desktop is missing"
report=$(desktop-file-validate "$desktop" 2>&1) || fail "desktop-file-validate $desktop:"$'\n'"$report"
[ -z "$report" ] || fail "desktop-file-validate $desktop:"$'\n'"$report"
echo "desktop-file-validate: nothing to report on $(basename "$desktop")"

metainfo=("$source"/data/*.metainfo.xml)
[ ${#metainfo[@]} -eq 1 ] && [ -f "${metainfo[0]}" ] ||
  fail "data/ holds not one metainfo file: ${metainfo[*]}"
tree=$(mktemp -d)
trap 'rm -rf "$tree"' EXIT
mkdir -p "$tree/usr/share/applications" "$tree/usr/share/metainfo"
cp "$desktop" "$tree/usr/share/applications/"
cp "${metainfo[0]}" "$tree/usr/share/metainfo/"
report=$(appstreamcli validate-tree --no-net --strict "$tree" 2>&1) ||
  fail "appstreamcli validate-tree of $(basename "${metainfo[0]}") beside $(basename "$desktop"):"$'\n'"$report"
echo "appstreamcli: $(basename "${metainfo[0]}") is valid and launches $(basename "$desktop")"
