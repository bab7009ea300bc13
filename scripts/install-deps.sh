#!/usr/bin/env bash
# Installs every Debian package that building Velmora, running it with the reference
# backend, its tests and its benchmarks need. Safe to run again.
set -euo pipefail

packages=(
  # toolchain
  build-essential cmake ninja-build pkg-config git
  # compiler cache: scripts/test.sh and the packaged build compile through it when present
  ccache
  # Qt 6 and coroutines
  qt6-base-dev qt6-base-dev-tools libqt6opengl6-dev
  qt6-webengine-dev qt6-webengine-dev-tools qt6-webchannel-dev
  qcoro-qt6-dev
  # Qt's own dialogs in Korean; the desktop's file panels through Qt's platform themes
  qt6-translations-l10n qt6-gtk-platformtheme qt6-xdgdesktopportal-platformtheme
  # X11 window list for placing the access guide
  libxcb1-dev libxcb-ewmh-dev
  # updates: Ed25519 signatures of release archives, and reading those archives (tar.gz)
  libsodium-dev libarchive-dev
  # reference backend
  python3 python3-fastapi python3-uvicorn
  # running without a display, Korean glyphs, GL for the web engine
  xvfb xauth x11-utils fonts-noto-cjk fonts-dejavu-core libgl1-mesa-dri dbus
  # tests and benchmarks
  openssl procps chromium
  # packaging: icons rendered from SVG, the Debian package and the validators its tests run
  librsvg2-bin dpkg-dev file lintian desktop-file-utils appstream
  # sanitizer build and fuzz targets (scripts/test.sh --sanitize, scripts/fuzz.sh): clang 14
  # with its sanitizer and libFuzzer runtimes, llvm-symbolizer for readable reports
  clang libclang-rt-14-dev llvm
  # format and lint checks of .ci/run (scripts/check-format.sh, scripts/lint.sh)
  clang-format-14 clang-tidy-14
)

SUDO=""
if [ "$(id -u)" -ne 0 ]; then SUDO="sudo"; fi

missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done

if [ "${#missing[@]}" -gt 0 ]; then
  export DEBIAN_FRONTEND=noninteractive
  $SUDO apt-get update -qq
  $SUDO apt-get install -y -qq --no-install-recommends "${missing[@]}"
fi
