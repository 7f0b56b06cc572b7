#!/bin/sh
# Installs the built program to a fresh prefix and checks the layout an FHS installation needs: the program in
# bin/, its help page where it looks for it, and a menu entry, metainfo and icon that the desktop's own validators
# accept, all under one application id.
# Usage: install-layout.sh BUILD_DIR
set -eu
build=$1
id=io.github.sondrel.Sondrel
prefix=$(mktemp -d)
trap 'rm -rf "$prefix"' EXIT

fail() {
    echo "FAIL: $*" >&2
    exit 1
}

cmake --install "$build" --prefix "$prefix" >/dev/null

[ -x "$prefix/bin/sondrel" ] || fail "bin/sondrel is missing or not executable"
for file in share/sondrel/SDR.html "share/applications/$id.desktop" "share/metainfo/$id.metainfo.xml" \
    "share/icons/hicolor/scalable/apps/$id.svg"; do
    [ -s "$prefix/$file" ] || fail "$file is missing"
done
[ ! -e "$prefix/lib/sondrel" ] || fail "lib/sondrel is still installed"
[ -z "$(find "$prefix" -name data -o -name logs)" ] || fail "an installation holds no data/ or logs/"

desktop="$prefix/share/applications/$id.desktop"
said=$(desktop-file-validate "$desktop" 2>&1) || fail "desktop-file-validate: $said"
[ -z "$said" ] || fail "desktop-file-validate: $said"
grep -qx "Icon=$id" "$desktop" || fail "the menu entry's icon is not $id"
grep -qx "Exec=sondrel" "$desktop" || fail "the menu entry does not start sondrel"

metainfo="$prefix/share/metainfo/$id.metainfo.xml"
said=$(appstreamcli validate --no-net "$metainfo" 2>&1) || fail "appstreamcli: $said"
if printf '%s\n' "$said" | grep -q '^[EW]:'; then fail "appstreamcli: $said"; fi
grep -q "<id>$id</id>" "$metainfo" || fail "the metainfo's id is not $id"
grep -q "<launchable type=\"desktop-id\">$id.desktop</launchable>" "$metainfo" ||
    fail "the metainfo does not launch $id.desktop"

grep -q 'viewBox="0 0 256 256"' "$prefix/share/icons/hicolor/scalable/apps/$id.svg" || fail "the icon is not square"
