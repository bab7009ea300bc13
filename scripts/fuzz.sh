#!/usr/bin/env bash
# Builds the fuzz targets of tests/fuzz with clang (libFuzzer, ASan, UBSan) in build-fuzz and
# runs each for SECONDS, one after the other. Prints executions per target and every finding;
# exits 1 when a target found something.
#
#   scripts/fuzz.sh SECONDS [TARGET...]
#
# Each target starts from its seed corpus (tests/fuzz/corpus/<target> and the generated
# inputs, without the known failures) and keeps what it learns in build-fuzz/fuzz-work/<target>/
# corpus for the next run. Crashing inputs land in build-fuzz/fuzz-work/<target>/ as crash-*,
# timeout-*, leak-* or oom-*; `build-fuzz/fuzz/fuzz_<target> FILE` replays one.
set -euo pipefail
cd "$(dirname "$0")/.."

if [ $# -lt 1 ] || ! [[ "$1" =~ ^[0-9]+$ ]]; then
  echo "usage: scripts/fuzz.sh SECONDS [TARGET...]" >&2
  exit 2
fi
seconds=$1
shift

bash scripts/install-deps.sh
cmake -S . -B build-fuzz -G Ninja -DCMAKE_BUILD_TYPE=Debug -DCMAKE_CXX_COMPILER=clang++ -DVELMORA_FUZZ=ON \
  $(command -v ccache >/dev/null && echo -DCMAKE_CXX_COMPILER_LAUNCHER=ccache)
cmake --build build-fuzz -j 2 --target velmora_fuzzers

targets=("$@")
if [ ${#targets[@]} -eq 0 ]; then
  mapfile -t targets < <(cd build-fuzz/fuzz && ls fuzz_* | sed 's/^fuzz_//' | sort)
fi

# The sanitizer settings of the test suite (suppressions for third-party libraries only).
supp=tests/sanitizers
export ASAN_OPTIONS="suppressions=$PWD/$supp/asan.supp"
export LSAN_OPTIONS="suppressions=$PWD/$supp/lsan.supp"
export UBSAN_OPTIONS="print_stacktrace=1:halt_on_error=1:suppressions=$PWD/$supp/ubsan.supp"
export QT_QPA_PLATFORM=offscreen

# Release notes are read up to 262144 bytes; the readers of notes get inputs that long.
max_len() {
  case "$1" in
    inline_markdown|release_notes_text) echo 262144 ;;
    appcast) echo 65536 ;;
    *) echo 4096 ;;
  esac
}

found=0
summary=()
for target in "${targets[@]}"; do
  work=build-fuzz/fuzz-work/$target
  mkdir -p "$work/corpus"
  build-fuzz/tests/bin/fuzz_replay_"$target" --write "$work/corpus"
  log=$work/last-run.log
  echo "== $target: ${seconds} s"
  set +e
  # -timeout: a single input running that long is a finding (quadratic time or a hang).
  build-fuzz/fuzz/fuzz_"$target" -max_total_time="$seconds" -max_len="$(max_len "$target")" -timeout=30 \
    -print_final_stats=1 -artifact_prefix="$work/" "$work/corpus" >"$log" 2>&1
  status=$?
  set -e
  runs=$(sed -n 's/^stat::number_of_executed_units: *//p' "$log" | tail -1)
  speed=$(sed -n 's/^stat::average_exec_per_sec: *//p' "$log" | tail -1)
  if [ $status -eq 0 ]; then
    line="$target: ${runs:-?} executions (${speed:-?}/s), no finding"
  else
    found=1
    what=$(grep -m1 -E 'ERROR: (AddressSanitizer|LeakSanitizer|libFuzzer)|runtime error:|fuzz property violated' "$log" || true)
    artifact=$(sed -n 's/.*Test unit written to \(.*\)$/\1/p' "$log" | tail -1)
    line="$target: ${runs:-?} executions (${speed:-?}/s), FOUND: ${what:-exit status $status} -> ${artifact:-see $log}"
  fi
  echo "$line"
  summary+=("$line")
done

echo
echo "Fuzzing summary (${seconds} s per target):"
printf '  %s\n' "${summary[@]}"
exit $found
