#!/usr/bin/env bash
# Runs clang-tidy 14 with the checks of .clang-tidy over Velmora's own sources as the clang
# build compiles them (not the generated ones), two files at a time. Prints every finding and
# exits 1 when there is one.
#
#   scripts/lint.sh [--with-tests] [BUILD_DIR] [FILE...]
#
# By default the code that ships and the release tools (Velmora, tools), and the headers they
# include; --with-tests adds the tests and benchmarks, about as many files again, each heavier
# (CI leaves them out to stay within its time). BUILD_DIR (default build-sanitize, the clang
# build of `scripts/test.sh --sanitize`) must be built: the sources include what moc generates
# there. FILEs limit the run to those sources.
set -euo pipefail
root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
cd "$root"

scope="Velmora tools"
if [ "${1:-}" = "--with-tests" ]; then
  scope="Velmora tools tests bench"
  shift
fi
build="${1:-build-sanitize}"
shift || true
clang_tidy=clang-tidy-14
command -v "$clang_tidy" >/dev/null || { echo "$clang_tidy missing (scripts/install-deps.sh installs it)" >&2; exit 2; }
if [ ! -f "$build/compile_commands.json" ]; then
  echo "lint: $build/compile_commands.json missing; build with scripts/test.sh --sanitize first" >&2
  exit 2
fi

# The sources the build compiles that live in the source tree (not the build folders).
mapfile -t sources < <(python3 - "$build/compile_commands.json" "$root" "$scope" "$@" <<'PY'
import json, os, sys
commands, root, scope, wanted = sys.argv[1], sys.argv[2], sys.argv[3].split(), sys.argv[4:]
wanted = {os.path.realpath(w) for w in wanted}
seen = set()
for entry in json.load(open(commands)):
    path = os.path.realpath(os.path.join(entry["directory"], entry["file"]))
    relative = os.path.relpath(path, root)
    if relative.split(os.sep)[0] not in scope:
        continue
    if wanted and path not in wanted:
        continue
    if path not in seen:
        seen.add(path)
        print(path)
PY
)
if [ "${#sources[@]}" -eq 0 ]; then
  echo "lint: no sources to check in $build" >&2
  exit 2
fi

log="$(mktemp)"
trap 'rm -f "$log"' EXIT
# Findings in the project's headers count too; those of Qt and the build folders do not.
header_filter="^$root/(Velmora|tests|bench|tools)/"
status=0
printf '%s\0' "${sources[@]}" \
  | xargs -0 -n 1 -P 2 "$clang_tidy" -p "$build" --quiet "--header-filter=$header_filter" >"$log" 2>&1 || status=$?

# Each finding once (a header's finding comes with every file that includes it).
findings=$(grep -E '^/.*: (warning|error): ' "$log" | sort -u || true)
if [ "$status" -ne 0 ] || [ -n "$findings" ]; then
  cat "$log"
  echo
  echo "lint: ${#sources[@]} files checked; findings:" >&2
  if [ -n "$findings" ]; then echo "$findings" >&2; fi
  exit 1
fi
echo "lint: ${#sources[@]} files checked, no findings"
