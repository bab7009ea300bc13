"""Reference backend of Velmora: the small loopback service the desktop app starts and shows.

It answers the app's identity probe and activity probe, serves the workspace page and a few
text downloads, and never outlives the app that started it: it stops on SIGTERM (uvicorn's own
handling) and on its own once the process named by VELMORA_DESKTOP_PARENT_PID is gone.
"""

import asyncio
import logging
import os
import signal
import sys
import time
from pathlib import Path
from urllib.parse import quote

from fastapi import FastAPI, HTTPException
from fastapi.responses import FileResponse, HTMLResponse, Response
from fastapi.staticfiles import StaticFiles
from pydantic import BaseModel

STATIC_DIR = Path(__file__).resolve().parent / "static"
PARENT_POLL_SECONDS = 1.0
# After the app is gone, how long a graceful shutdown may wait for open connections.
ORPHAN_GRACE_SECONDS = 5.0

log = logging.getLogger("velmora.backend")

app = FastAPI(title="Velmora", docs_url=None, redoc_url=None, openapi_url=None)
app.mount("/static", StaticFiles(directory=STATIC_DIR), name="static")


class WorkState:
    """Whether the backend is in the middle of work the app must not cut short."""

    def __init__(self) -> None:
        self.busy = False


state = WorkState()


def parent_pid_text() -> str:
    return os.environ.get("VELMORA_DESKTOP_PARENT_PID", "")


def parent_pid() -> int | None:
    try:
        pid = int(parent_pid_text())
    except ValueError:
        return None
    return pid if pid > 0 else None


def process_exists(pid: int) -> bool:
    try:
        os.kill(pid, 0)
    except ProcessLookupError:
        return False
    except PermissionError:
        return True
    return True


async def watch_parent(pid: int) -> None:
    # When the app is our direct parent, a change of parent also means it is gone: a crashed
    # app may linger as a zombie that os.kill(pid, 0) still reports as present.
    direct_child = os.getppid() == pid
    while True:
        await asyncio.sleep(PARENT_POLL_SECONDS)
        if not process_exists(pid) or (direct_child and os.getppid() != pid):
            log.warning("Velmora (pid %d) is gone; shutting down", pid)
            os.kill(os.getpid(), signal.SIGTERM)
            # A client that keeps its connection open would hold a graceful shutdown for ever,
            # and nobody is left to ask again.
            await asyncio.sleep(ORPHAN_GRACE_SECONDS)
            log.warning("connections still open; exiting now")
            os._exit(0)


@app.on_event("startup")
async def start_parent_watch() -> None:
    port = os.environ.get("VELMORA_DESKTOP_PORT", "?")
    print(f"Velmora backend pid {os.getpid()} on port {port} for app pid {parent_pid_text() or '?'}",
          file=sys.stderr, flush=True)
    pid = parent_pid()
    # Tests turn the watch off to see that the app's own SIGTERM is what stops the backend.
    watch = os.environ.get("VELMORA_BACKEND_WATCH_PARENT", "1") != "0"
    if pid is not None and watch:
        app.state.parent_watch = asyncio.create_task(watch_parent(pid))


@app.get("/healthz")
async def healthz() -> dict:
    return {"app": "Velmora", "ok": True, "desktop_parent_pid": parent_pid_text()}


@app.get("/api/update-status")
async def update_status() -> dict:
    return {"busy": state.busy}


class BusyChange(BaseModel):
    busy: bool


@app.post("/api/debug/busy")
async def set_busy(change: BusyChange) -> dict:
    """Lets tests and developers mark the backend busy or idle."""
    state.busy = change.busy
    return {"busy": state.busy}


# Start-up benchmarks learn when the page finished loading from the page itself, the same way
# in every browser: started with VELMORA_BENCH_LOAD_LOG=<file>, the backend serves the page with
# a load listener that reports once, and appends "<wall time> <monotonic time>" (seconds) of
# each report to that file. Without it neither the listener nor the endpoint exists.
BENCH_LOAD_LOG = os.environ.get("VELMORA_BENCH_LOAD_LOG", "")
BENCH_LOAD_LISTENER = (
    "<script>addEventListener('load', () => fetch('/api/bench/loaded', "
    "{ method: 'POST', cache: 'no-store' }), { once: true });</script>\n"
)


@app.get("/")
async def index() -> Response:
    if BENCH_LOAD_LOG:
        page = (STATIC_DIR / "index.html").read_text(encoding="utf-8")
        return HTMLResponse(page.replace("</head>", BENCH_LOAD_LISTENER + "</head>", 1))
    return FileResponse(STATIC_DIR / "index.html", media_type="text/html")


if BENCH_LOAD_LOG:

    @app.post("/api/bench/loaded")
    async def bench_loaded() -> dict:
        with open(BENCH_LOAD_LOG, "a", encoding="utf-8") as record:
            record.write(f"{time.time():.6f} {time.monotonic():.6f}\n")
        return {}


SAMPLE_TEXT = {
    "txt": ("text/plain; charset=utf-8", "안녕하세요. Velmora 받아쓰기 예시입니다.\n"),
    "srt": (
        "application/x-subrip; charset=utf-8",
        "1\n00:00:00,000 --> 00:00:02,500\n안녕하세요.\n\n2\n00:00:02,500 --> 00:00:05,000\nVelmora 받아쓰기 예시입니다.\n",
    ),
    "vtt": (
        "text/vtt; charset=utf-8",
        "WEBVTT\n\n00:00:00.000 --> 00:00:02.500\n안녕하세요.\n\n00:00:02.500 --> 00:00:05.000\nVelmora 받아쓰기 예시입니다.\n",
    ),
    "md": ("text/markdown; charset=utf-8", "# 받아쓰기\n\n안녕하세요. Velmora 받아쓰기 예시입니다.\n"),
}


def attachment_header(filename: str) -> str:
    # A plain ASCII name for old clients, the exact UTF-8 name for everyone else.
    ascii_name = filename.encode("ascii", "replace").decode("ascii").replace("?", "_").replace('"', "_")
    return f"attachment; filename=\"{ascii_name}\"; filename*=UTF-8''{quote(filename, safe='')}"


@app.get("/api/downloads/{filename}")
async def download(filename: str) -> Response:
    stem, dot, extension = filename.rpartition(".")
    if not dot or not stem or "/" in filename or "\\" in filename or extension.lower() not in SAMPLE_TEXT:
        raise HTTPException(status_code=404, detail="not found")
    media_type, body = SAMPLE_TEXT[extension.lower()]
    return Response(
        content=body.encode("utf-8"),
        media_type=media_type,
        headers={"Content-Disposition": attachment_header(filename)},
    )
