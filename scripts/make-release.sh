#!/usr/bin/env bash
# Makes the release archive of one version, the bundle that the updater installs:
#   scripts/make-release.sh VERSION [--build-dir DIR] [--output DIR]
# VERSION must stand as a release in packaging/linux/app.velmora.Velmora.metainfo.xml; its
# date there is the time of every entry in the archive and the feed item's date.
#
# The archive, Velmora-VERSION-linux-ARCH.tar.gz, holds one folder "velmora": exactly what
# `cmake --install BUILD --prefix …/velmora` lays out. It is reproducible: entries sorted by
# name, owner and group 0, the release date as every time, permissions from the installed
# modes only, gzip without name or time. The script prints the archive's path, its size and
# the feed item for the appcast.
#
# Without --build-dir the bundle is built in build-release; the archive goes to BUILD/release
# unless --output names another folder.
#
# Signing: when VELMORA_RELEASE_SIGNER is set, it is run with the archive's path and must print
# the enclosure's signature attributes (for example sparkle:edSignature="…"); they are added to
# the enclosure. A length="…" it prints must be the archive's size and stands once. Velmora's
# own signer is `velmora-update-sign sign KEY_FILE` (tools/update-sign), for example
#   VELMORA_RELEASE_SIGNER="build/bin/velmora-update-sign sign $HOME/keys/velmora-update.key"
# Without a signer the item has no signature, and the updater will not install it.
#
# VELMORA_DOWNLOAD_BASE_URL (default: the folder of the update feed) is where the archive will
# be published; VELMORA_RELEASE_NOTES_BASE_URL (default: the same) holds VERSION.md.
set -euo pipefail
root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
metainfo="$root/packaging/linux/app.velmora.Velmora.metainfo.xml"

usage() {
  echo "usage: $0 VERSION [--build-dir DIR] [--output DIR]" >&2
  exit 2
}

[ $# -ge 1 ] || usage
version="$1"
shift
build="$root/build-release"
output=""
while [ $# -gt 0 ]; do
  case "$1" in
    --build-dir) [ $# -ge 2 ] || usage; build="$2"; shift 2 ;;
    --output) [ $# -ge 2 ] || usage; output="$2"; shift 2 ;;
    *) usage ;;
  esac
done

output="${output:-$build/release}"

if ! [[ "$version" =~ ^[0-9]+(\.[0-9]+)*([~+-][0-9A-Za-z.]+)?$ ]]; then
  echo "make-release.sh: \"$version\" is not a version (digits and dots, then an optional -suffix)" >&2
  exit 2
fi
release_date="$(grep -oP "<release version=\"\Q$version\E\" date=\"\K[0-9]{4}-[0-9]{2}-[0-9]{2}(?=\")" "$metainfo" || true)"
if [ -z "$release_date" ]; then
  echo "make-release.sh: add <release version=\"$version\" date=\"YYYY-MM-DD\"> to $metainfo first" >&2
  exit 1
fi
epoch="$(date -u -d "$release_date 00:00:00 UTC" +%s)"

bash "$root/scripts/packaged-build.sh" "$build" "-DVELMORA_VERSION_STRING=$version"

staging="$(mktemp -d)"
trap 'rm -rf "$staging"' EXIT
cmake --install "$build" --prefix "$staging/velmora" >/dev/null

info="$staging/velmora/Info.json"
info_value() { python3 -c 'import json, sys; print(json.load(open(sys.argv[1]))[sys.argv[2]])' "$info" "$1"; }
if [ "$(info_value CFBundleShortVersionString)" != "$version" ]; then
  echo "make-release.sh: the bundle in $build carries version $(info_value CFBundleShortVersionString), not $version" >&2
  exit 1
fi

arch="$(uname -m)"
mkdir -p "$output"
output="$(cd "$output" && pwd)"
archive="$output/Velmora-$version-linux-$arch.tar.gz"
tar --create --format=gnu --directory="$staging" \
    --sort=name --mtime="@$epoch" --owner=0 --group=0 --numeric-owner \
    --mode='u=rwX,go=rX' \
    velmora \
  | gzip -9 -n > "$archive.partial"
mv "$archive.partial" "$archive"
size="$(stat -c %s "$archive")"

feed_url="$(info_value VelmoraUpdateFeedURL)"
download_base="${VELMORA_DOWNLOAD_BASE_URL:-${feed_url%/*}}"
notes_base="${VELMORA_RELEASE_NOTES_BASE_URL:-${feed_url%/*}}"

signature=""
if [ -n "${VELMORA_RELEASE_SIGNER:-}" ]; then
  signed="$($VELMORA_RELEASE_SIGNER "$archive")"
  if [[ "$signed" =~ (^|[[:space:]])length=\"([0-9]+)\" ]]; then
    if [ "${BASH_REMATCH[2]}" != "$size" ]; then
      echo "make-release.sh: the signer gives length ${BASH_REMATCH[2]}, the archive has $size bytes" >&2
      exit 1
    fi
    signed="$(printf '%s' "$signed" | sed -E 's/(^|[[:space:]])length="[0-9]+"//')"
  fi
  signature=" $(printf '%s' "$signed" | tr -s '[:space:]' ' ' | sed -E 's/^ +| +$//g')"
else
  echo "make-release.sh: VELMORA_RELEASE_SIGNER is not set: the feed item carries no signature" >&2
fi

echo "archive: $archive"
echo "size: $size bytes"
echo "feed item:"
cat <<ITEM
<item>
  <title>Velmora $version</title>
  <pubDate>$(LC_ALL=C date -u -R -d "@$epoch")</pubDate>
  <sparkle:version>$version</sparkle:version>
  <sparkle:shortVersionString>$version</sparkle:shortVersionString>
  <sparkle:releaseNotesLink>$notes_base/$version.md</sparkle:releaseNotesLink>
  <enclosure url="$download_base/$(basename "$archive")" length="$size" type="application/gzip" xmlns:velmora="https://velmora.app/xml-namespaces/update" velmora:arch="$arch" sparkle:os="linux"$signature/>
</item>
ITEM
