#!/bin/bash
# Runs every benchmark against one release build and prints one table of the figures and their
# ratios beside those of the last accepted run, so that a change can be compared in one command.
#
#   bench/run-all.sh [--build DIR] [--runs N] [--idle SECONDS] [--out DIR] [--accept]
#
# Without --accept the raw output goes to a fresh folder (printed at the end); --accept writes
# it over bench/results/<benchmark>.txt, the figures of record. The table is also written as
# summary.txt beside them. Other work on the machine skews every figure: each one is printed
# with the load average it was taken at, and the browser comparisons alternate Velmora and
# Chromium within one run, so their ratios stay fair.
set -euo pipefail

here=$(cd "$(dirname "$0")" && pwd)
root=$(dirname "$here")
build="$root/build-release"
runs=11
idle=60
out=""
accept=0
while [ $# -gt 0 ]; do
    case "$1" in
    --build) build=$(cd "$2" && pwd); shift 2 ;;
    --runs) runs=$2; shift 2 ;;
    --idle) idle=$2; shift 2 ;;
    --out) out=$2; shift 2 ;;
    --accept) accept=1; shift ;;
    -h|--help) sed -n '2,12p' "$0"; exit 0 ;;
    *) echo "run-all.sh: unknown argument $1" >&2; exit 2 ;;
    esac
done
if [ "$accept" = 1 ]; then
    out="$here/results"
elif [ -z "$out" ]; then
    out=$(mktemp -d "${TMPDIR:-/tmp}/velmora-bench-XXXXXX")
fi
mkdir -p "$out"
# The figures of record as they stand before this run, printed beside the new ones.
earlier=$(mktemp -d "${TMPDIR:-/tmp}/velmora-bench-earlier-XXXXXX")
cp -r "$here/results/." "$earlier/"

cmake --build "$build" --target velmora velmora-child-watch bench_bare_webview bench_backend_start bench_bridge_roundtrip \
    bench_release_notes_render >&2

export QTWEBENGINE_DISABLE_SANDBOX=1
export QTWEBENGINE_CHROMIUM_FLAGS=--disable-gpu

stamp() { echo "# $(date -u '+%Y-%m-%d %H:%M:%S UTC'), load average $(cut -d' ' -f1-3 /proc/loadavg)"; }

run() { # name command...
    local name=$1; shift
    echo "== $name" >&2
    { stamp; "$@"; stamp; } > "$out/$name.txt"
}

run backend_start "$build/bin/bench_backend_start" 21
run startup_vs_chromium /usr/bin/python3 "$here/startup_vs_chromium.py" --velmora "$build/bin/velmora" \
    --bare "$build/bin/bench_bare_webview" --runs "$runs" --json "$out/startup_vs_chromium.json"
if [ "$idle" != 0 ]; then
    run idle_vs_chromium /usr/bin/python3 "$here/startup_vs_chromium.py" --velmora "$build/bin/velmora" \
        --runs 2 --idle "$idle" --json "$out/idle_vs_chromium.json"
fi
run bridge_roundtrip xvfb-run -a -s "-screen 0 1920x1080x24" "$build/bin/bench_bridge_roundtrip" 1000
run release_notes_render "$build/bin/bench_release_notes_render"

/usr/bin/python3 "$here/summary.py" "$out" "$earlier" | tee "$out/summary.txt"
rm -rf "$earlier"
echo "raw output: $out" >&2
