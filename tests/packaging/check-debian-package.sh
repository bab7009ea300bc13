#!/usr/bin/env bash
# scripts/make-deb.sh makes a Debian package that lintian passes without errors, that depends
# on the backend's interpreter and packages, the Korean fonts and the libraries the program
# links, that puts the bundle in /usr/lib/velmora with /usr/bin/velmora, and whose files run.
#   check-debian-package.sh PACKAGED_BUILD_DIR
set -euo pipefail
here="$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)"
root="$(cd "$here/../.." && pwd)"
build="$(realpath "$1")"

work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT

rm -f "$build"/velmora_*.deb
# The script fails on lintian's errors and prints its warnings into the test's output.
bash "$root/scripts/make-deb.sh" "$build" | tee "$work/make-deb.log"
package="$(tail -n 1 "$work/make-deb.log")"
[ -f "$package" ] || { echo "FAIL: make-deb.sh named no package"; exit 1; }

failures=0
fail() { echo "FAIL: $*"; failures=$((failures + 1)); }

depends="$(dpkg-deb --field "$package" Depends)"
echo "Depends: $depends"
# Named by hand: the backend's interpreter and packages, the fonts for Korean text, Qt's Korean texts.
for needed in "python3 (>= 3.10)" python3-fastapi python3-uvicorn fonts-noto-cjk qt6-translations-l10n; do
  grep -qF -- "$needed" <<<"$depends" || fail "the package does not depend on $needed"
done
# Found by dpkg-shlibdeps in the program itself.
for library in libqt6webenginewidgets6 libqt6widgets6 libqcoro6core0 libc6; do
  grep -qE -- "(^|, )$library( |,|$)" <<<"$depends" || fail "dpkg-shlibdeps did not find $library"
done

dpkg-deb --contents "$package" \
  | awk '{ line = $1 " " $6; if ($7 == "->") line = line " -> " $8; print line }' > "$work/contents"
expect() { grep -qxF -- "$1" "$work/contents" || fail "the package lacks \"$1\""; }
expect "lrwxrwxrwx ./usr/bin/velmora -> ../lib/velmora/bin/velmora"
expect "-rwxr-xr-x ./usr/lib/velmora/bin/velmora"
expect "-rwxr-xr-x ./usr/lib/velmora/bin/velmora-child-watch"
expect "-rwxr-xr-x ./usr/lib/velmora/Resources/python/bin/python3"
expect "-rw-r--r-- ./usr/lib/velmora/Resources/app/src/main.py"
expect "-rw-r--r-- ./usr/lib/velmora/Info.json"
expect "-rw-r--r-- ./usr/share/applications/app.velmora.Velmora.desktop"
expect "-rw-r--r-- ./usr/share/metainfo/app.velmora.Velmora.metainfo.xml"
expect "-rw-r--r-- ./usr/share/icons/hicolor/scalable/apps/app.velmora.Velmora.svg"
expect "-rw-r--r-- ./usr/share/icons/hicolor/256x256/apps/app.velmora.Velmora.png"
expect "-rw-r--r-- ./usr/share/man/man1/velmora.1.gz"
expect "-rw-r--r-- ./usr/share/doc/velmora/copyright"
expect "-rw-r--r-- ./usr/share/doc/velmora/changelog.gz"
if awk '{ print $2 }' "$work/contents" | grep -vE '^\./$|^\./usr/$|^\./usr/lib/$|^\./usr/(bin|lib/velmora|share)/'; then
  fail "the package installs files outside /usr/bin, /usr/lib/velmora and /usr/share"
fi

# The unpacked files work: /usr/bin/velmora reaches the bundle's program through its link, and
# the interpreter entry runs Debian's python3 with the backend's packages.
dpkg-deb --extract "$package" "$work/root"
version="$("$work/root/usr/bin/velmora" --version)"
echo "usr/bin/velmora --version: $version"
[ "$version" = "Velmora $(dpkg-deb --field "$package" Version)" ] || fail "the program reports \"$version\""
interpreter="$("$work/root/usr/lib/velmora/Resources/python/bin/python3" -c 'import sys, fastapi, uvicorn; print(sys.executable)')" \
  || fail "the interpreter entry cannot import the backend's packages"
[ "$interpreter" = "/usr/bin/python3" ] || fail "the interpreter entry runs $interpreter, not /usr/bin/python3"
if grep -rlF -e "$root" -e "$build" "$work/root"; then
  fail "the package names a path of the source or build tree"
fi

if [ "$failures" -gt 0 ]; then
  echo "$failures check(s) failed"
  exit 1
fi
echo "$(basename "$package") is sound"
