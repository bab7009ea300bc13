#!/usr/bin/env bash
# Checks that Velmora's C++ sources (Velmora, tests, bench, tools) are formatted as .clang-format
# says, with Debian 12's clang-format 14. Prints what would change in each file that is not and
# exits 1 then.
#
#   scripts/check-format.sh          check
#   scripts/check-format.sh --fix    format those files in place
set -euo pipefail
cd "$(dirname "$0")/.."

clang_format=clang-format-14
command -v "$clang_format" >/dev/null || { echo "$clang_format missing (scripts/install-deps.sh installs it)" >&2; exit 2; }

fix=0
if [ "${1:-}" = "--fix" ]; then fix=1; fi

# The fuzz corpus holds inputs, not code.
mapfile -t files < <(git ls-files -- 'Velmora/*.cpp' 'Velmora/*.h' 'tests/*.cpp' 'tests/*.h' \
                       'bench/*.cpp' 'bench/*.h' 'tools/*.cpp' 'tools/*.h' | grep -v '^tests/fuzz/corpus/')

if [ "$fix" -eq 1 ]; then
  printf '%s\0' "${files[@]}" | xargs -0 -n 20 -P 2 "$clang_format" -i --style=file
  exit 0
fi

unformatted=0
changed=0
for file in "${files[@]}"; do
  if ! difference=$("$clang_format" --style=file "$file" | diff -u --label "$file" --label "$file (formatted)" "$file" -); then
    echo "$difference"
    unformatted=$((unformatted + 1))
    changed=$((changed + $(grep -c '^-[^-]' <<<"$difference" || true)))
  fi
done

if [ "$unformatted" -gt 0 ]; then
  echo "check-format: $unformatted of ${#files[@]} files are not formatted ($changed lines);" \
       "scripts/check-format.sh --fix formats them" >&2
  exit 1
fi
echo "check-format: ${#files[@]} files formatted"
