#!/usr/bin/env bash
# The desktop integration files of an installed bundle pass the freedesktop and AppStream
# validators, name each other and the icon consistently, and the metainfo records the
# installed version as its newest release.
#   check-metadata.sh PACKAGED_BUILD_DIR
set -euo pipefail
build="$1"
id="app.velmora.Velmora"

work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT
bundle="$work/velmora"
cmake --install "$build" --prefix "$bundle" >/dev/null

failures=0
fail() { echo "FAIL: $*"; failures=$((failures + 1)); }

desktop="$bundle/share/applications/$id.desktop"
metainfo="$bundle/share/metainfo/$id.metainfo.xml"

echo "desktop-file-validate $id.desktop"
# It reports hints as well as errors; only a clean run passes.
report="$(desktop-file-validate "$desktop" 2>&1)" || fail "desktop-file-validate failed"
[ -z "$report" ] || { echo "$report"; fail "desktop-file-validate reported problems"; }

echo "appstreamcli validate $id.metainfo.xml"
appstreamcli validate --no-net --explain "$metainfo" || fail "appstreamcli validate failed"

entry() { sed -n "s/^$1=//p" "$desktop" | head -n 1; }
for key in Name "Name\[ko\]" Comment "Comment\[ko\]"; do
  [ -n "$(entry "$key")" ] || fail "the desktop entry has no $key"
done
# Qt names the window class after the application ("Velmora"); the entry must match it.
[ "$(entry StartupWMClass)" = "Velmora" ] || fail "StartupWMClass is \"$(entry StartupWMClass)\", not Velmora"
[ "$(entry Icon)" = "$id" ] || fail "the desktop entry's icon is \"$(entry Icon)\", not $id"
[ "$(entry Exec)" = "velmora" ] || fail "the desktop entry runs \"$(entry Exec)\", not velmora"

grep -q "<launchable type=\"desktop-id\">$id.desktop</launchable>" "$metainfo" \
  || fail "the metainfo does not launch $id.desktop"
version="$(python3 -c 'import json, sys; print(json.load(open(sys.argv[1]))["CFBundleShortVersionString"])' "$bundle/Info.json")"
newest="$(grep -oP '<release version="\K[^"]+(?=" date="[0-9]{4}-[0-9]{2}-[0-9]{2}")' "$metainfo" | head -n 1)"
[ "$newest" = "$version" ] || fail "the metainfo's newest release is \"$newest\", the bundle is $version"

[ -f "$bundle/share/icons/hicolor/scalable/apps/$id.svg" ] || fail "no scalable icon"
for size in 16 24 32 48 64 128 256 512; do
  png="$bundle/share/icons/hicolor/${size}x${size}/apps/$id.png"
  if [ ! -f "$png" ]; then
    fail "no ${size}x${size} icon"
    continue
  fi
  # Width and height stand big-endian at bytes 16 to 23 of a PNG.
  dimensions="$(od -An -tu1 -j16 -N8 "$png" | awk '{ print $3 * 256 + $4 "x" $7 * 256 + $8 }')"
  [ "$dimensions" = "${size}x${size}" ] || fail "the ${size}x${size} icon is $dimensions"
done

if [ "$failures" -gt 0 ]; then
  echo "$failures check(s) failed"
  exit 1
fi
echo "desktop entry, metainfo and icons are valid"
