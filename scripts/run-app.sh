#!/usr/bin/env bash
# Development start script of the backend. Velmora runs it as `/bin/bash scripts/run-app.sh`
# from the project root with VELMORA_DESKTOP_HOST, VELMORA_DESKTOP_PORT and
# VELMORA_DESKTOP_PARENT_PID set; it ends by exec-ing the server so that the app's SIGTERM
# reaches uvicorn itself.
set -euo pipefail

root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
host="${VELMORA_DESKTOP_HOST:-127.0.0.1}"
port="${VELMORA_DESKTOP_PORT:-18760}"

# Debian's own interpreter carries python3-fastapi and python3-uvicorn; a python3 found
# first on PATH (pyenv and the like) often does not. The packages are looked for, not
# imported: importing them takes about a quarter of a second, twice over with the server's own
# import, and the server reports a broken package itself.
python=""
for candidate in /usr/bin/python3 $(type -P -a python3 2>/dev/null || true); do
  if "$candidate" -c 'import importlib.util as u, sys; sys.exit(not (u.find_spec("fastapi") and u.find_spec("uvicorn")))' \
      >/dev/null 2>&1; then
    python="$candidate"
    break
  fi
done
if [ -z "$python" ]; then
  echo "run-app.sh: no python3 with fastapi and uvicorn found; run scripts/install-deps.sh" >&2
  exit 1
fi

export PYTHONUNBUFFERED=1
export PYTHONDONTWRITEBYTECODE=1
exec "$python" -m uvicorn src.main:app --app-dir "$root/backend" \
  --loop asyncio --http h11 --ws none --host "$host" --port "$port" --workers 1
