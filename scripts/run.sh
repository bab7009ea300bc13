#!/usr/bin/env bash
# Installs what is missing, builds Velmora (development build, in the same build folder as
# scripts/test.sh) and runs it with the reference backend. Arguments go to velmora:
#   scripts/run.sh --screenshot shot.png   writes the window to shot.png once the page has
#                                          loaded, then quits (the backend stops with it)
set -euo pipefail
root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"

(
  cd "$root"
  bash scripts/install-deps.sh
  cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=Debug
  cmake --build build --target velmora
)

# The web engine's sandbox refuses to run as root.
if [ "$(id -u)" -eq 0 ]; then
  export QTWEBENGINE_DISABLE_SANDBOX=1
fi

# Without a display, run under a virtual X server large enough for the 1480 x 900 window.
launcher=()
if [ -z "${DISPLAY:-}" ] && [ -z "${WAYLAND_DISPLAY:-}" ]; then
  launcher=(xvfb-run -a -s "-screen 0 1920x1200x24")
fi

# No GPU (or only a virtual display): let the engine draw in software.
if [ "${#launcher[@]}" -gt 0 ] || ! compgen -G "/dev/dri/renderD*" >/dev/null; then
  case " ${QTWEBENGINE_CHROMIUM_FLAGS:-} " in
    *" --disable-gpu "*) ;;
    *) export QTWEBENGINE_CHROMIUM_FLAGS="${QTWEBENGINE_CHROMIUM_FLAGS:+$QTWEBENGINE_CHROMIUM_FLAGS }--disable-gpu" ;;
  esac
fi

exec "${launcher[@]}" "$root/build/bin/velmora" "$@"
