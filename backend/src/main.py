"""Reference backend of Velmora: the small loopback service the desktop app starts and shows.

It answers the app's identity probe and activity probe, serves the workspace page, lists the
recordings it can read, runs one pretend transcription job at a time (busy while it runs) and
offers its results as text downloads or saves them into the user's save folder. It never
outlives the app that started it: it stops on SIGTERM (uvicorn's own handling) and on its own
once the process named by VELMORA_DESKTOP_PARENT_PID is gone.
"""

import asyncio
import logging
import os
import re
import signal
import sys
import time
from datetime import datetime
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
        # Set by tests and developers through /api/debug/busy.
        self.busy = False
        self.job: "Job | None" = None

    @property
    def working(self) -> bool:
        return self.busy or (self.job is not None and self.job.running)


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
    return {"busy": state.working}


class BusyChange(BaseModel):
    busy: bool


@app.post("/api/debug/busy")
async def set_busy(change: BusyChange) -> dict:
    """Lets tests and developers mark the backend busy or idle."""
    state.busy = change.busy
    return {"busy": state.busy}


# Start-up benchmarks learn when the page finished loading, and when it was first painted, from
# the page itself, the same way in every browser: started with VELMORA_BENCH_LOAD_LOG=<file>,
# the backend serves the page with a load listener that reports once, and appends
# "<wall time> <monotonic time>" (seconds) of each report to that file; the page's first
# contentful paint adds "paint <wall time> <monotonic time>" of that paint (its wall time from
# the page's own clock, placed on the monotonic clock at the report). Without it neither the
# listeners nor the endpoints exist.
BENCH_LOAD_LOG = os.environ.get("VELMORA_BENCH_LOAD_LOG", "")
BENCH_LOAD_LISTENER = (
    "<script>addEventListener('load', () => fetch('/api/bench/loaded', "
    "{ method: 'POST', cache: 'no-store' }), { once: true });\n"
    "new PerformanceObserver((list, observer) => { for (const entry of list.getEntries()) {"
    " if (entry.name !== 'first-contentful-paint') continue; observer.disconnect();"
    " fetch('/api/bench/painted?at=' + (performance.timeOrigin + entry.startTime) / 1000,"
    " { method: 'POST', cache: 'no-store' }); } }).observe({ type: 'paint', buffered: true });</script>\n"
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

    @app.post("/api/bench/painted")
    async def bench_painted(at: float) -> dict:
        wall, monotonic = time.time(), time.monotonic()
        with open(BENCH_LOAD_LOG, "a", encoding="utf-8") as record:
            record.write(f"paint {at:.6f} {monotonic - (wall - at):.6f}\n")
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


# --- Recordings ---------------------------------------------------------------------------

# The folders the app probes for recordings ("requestVoiceMemosAccess"): the macOS Voice Memos
# folders under the home folder, then the Linux sound recorder's under the XDG data home, and
# its copy in the Flatpak sandbox.
VOICE_MEMO_FOLDERS = [
    "Library/Group Containers/group.com.apple.VoiceMemos.shared/Recordings",
    "Library/Containers/com.apple.VoiceMemos/Data/Library/Application Support/Recordings",
    "Library/Application Support/com.apple.voicememos/Recordings",
]
RECORDING_SUFFIXES = {".m4a", ".mp3", ".ogg", ".oga", ".opus", ".flac", ".wav", ".webm", ".mp4", ".mov"}


def recording_folders() -> list[Path]:
    home = Path.home()
    data_home = os.environ.get("XDG_DATA_HOME", "")
    data = Path(data_home) if data_home.startswith("/") else home / ".local" / "share"
    return [home / folder for folder in VOICE_MEMO_FOLDERS] + [
        data / "org.gnome.SoundRecorder",
        home / ".var/app/org.gnome.SoundRecorder/data/org.gnome.SoundRecorder",
    ]


@app.get("/api/recordings")
async def recordings() -> dict:
    """The recordings in every folder that can be read, newest first."""
    found = []
    readable = []
    for folder in recording_folders():
        try:
            entries = list(folder.iterdir())
        except OSError:
            continue
        readable.append(str(folder))
        for entry in entries:
            try:
                info = entry.stat()
            except OSError:
                continue
            if entry.is_file() and entry.suffix.lower() in RECORDING_SUFFIXES:
                found.append({"name": entry.name, "folder": str(folder), "size": info.st_size,
                              "modified": info.st_mtime})
    found.sort(key=lambda item: item["modified"], reverse=True)
    return {"folders": readable, "recordings": found[:200]}


# --- The transcription job ----------------------------------------------------------------

# How long the pretend transcription takes; tests and screenshots may shorten it.
JOB_SECONDS = float(os.environ.get("VELMORA_BACKEND_JOB_SECONDS", "30"))
JOB_STEPS = 60
RESULT_FORMATS = {"txt", "srt", "vtt", "md"}


class Job:
    def __init__(self, number: int, source: str) -> None:
        self.number = number
        self.source = source
        self.progress = 0.0
        self.running = True
        # "running", "done" (every line), "saved" (ended early, the lines so far kept)
        self.status = "running"
        self.lines: list[str] = []
        self.task: asyncio.Task | None = None

    def describe(self) -> dict:
        return {"id": self.number, "source": self.source, "progress": round(self.progress, 3),
                "status": self.status, "lines": len(self.lines)}

    def stop(self, status: str) -> None:
        self.running = False
        self.status = status
        if self.task is not None:
            self.task.cancel()

    async def run(self) -> None:
        for step in range(1, JOB_STEPS + 1):
            await asyncio.sleep(JOB_SECONDS / JOB_STEPS)
            if step % 6 == 0:
                self.lines.append(f"{self.source}의 {len(self.lines) + 1}번째 문장입니다.")
            self.progress = step / JOB_STEPS
        self.running = False
        self.status = "done"


job_numbers = iter(range(1, 1_000_000))


class JobRequest(BaseModel):
    source: str


@app.post("/api/jobs")
async def start_job(request: JobRequest) -> dict:
    if state.job is not None and state.job.running:
        raise HTTPException(status_code=409, detail="a job is running")
    source = request.source.strip()[:200] or "녹음"
    job = Job(next(job_numbers), source)
    job.task = asyncio.create_task(job.run())
    state.job = job
    return job.describe()


@app.get("/api/jobs/current")
async def current_job() -> dict:
    return {"job": state.job.describe() if state.job is not None else None}


@app.post("/api/jobs/current/finish")
async def finish_job() -> dict:
    """Ends a running job at once and keeps what it has so far: what the page asks for before
    the app relaunches for an update."""
    job = state.job
    if job is not None and job.running:
        job.stop("saved")
    return {"job": job.describe() if job is not None else None}


def job_result(job: Job, extension: str) -> tuple[str, str]:
    lines = job.lines or [f"{job.source}에서 받아쓴 내용이 없습니다."]
    if extension == "txt":
        return "text/plain; charset=utf-8", "\n".join(lines) + "\n"
    if extension == "md":
        return "text/markdown; charset=utf-8", f"# {job.source} 받아쓰기\n\n" + "\n\n".join(lines) + "\n"

    def stamp(seconds: int, separator: str) -> str:
        return f"{seconds // 3600:02d}:{seconds // 60 % 60:02d}:{seconds % 60:02d}{separator}000"

    if extension == "srt":
        cues = [f"{i + 1}\n{stamp(i * 3, ',')} --> {stamp(i * 3 + 3, ',')}\n{line}\n" for i, line in enumerate(lines)]
        return "application/x-subrip; charset=utf-8", "\n".join(cues)
    cues = [f"{stamp(i * 3, '.')} --> {stamp(i * 3 + 3, '.')}\n{line}\n" for i, line in enumerate(lines)]
    return "text/vtt; charset=utf-8", "WEBVTT\n\n" + "\n".join(cues)


def result_name(job: Job, extension: str) -> str:
    stem = re.sub(r"[\\/:*?\"<>|\x00-\x1f]", "_", job.source.rsplit(".", 1)[0]).strip(" .") or "받아쓰기"
    return f"{stem} 받아쓰기.{extension}"


def finished_job(number: int) -> Job:
    job = state.job
    if job is None or job.number != number or job.running:
        raise HTTPException(status_code=404, detail="no finished job")
    return job


@app.get("/api/jobs/{number}/result.{extension}")
async def job_download(number: int, extension: str) -> Response:
    if extension not in RESULT_FORMATS:
        raise HTTPException(status_code=404, detail="not found")
    job = finished_job(number)
    media_type, body = job_result(job, extension)
    return Response(content=body.encode("utf-8"), media_type=media_type,
                    headers={"Content-Disposition": attachment_header(result_name(job, extension))})


class SaveRequest(BaseModel):
    folder: str
    format: str = "txt"


@app.post("/api/jobs/{number}/save")
async def job_save(number: int, request: SaveRequest) -> dict:
    """Writes the result into the user's save folder under a name no other file there has."""
    job = finished_job(number)
    if request.format not in RESULT_FORMATS:
        raise HTTPException(status_code=400, detail="unknown format")
    folder = Path(request.folder)
    if not folder.is_absolute() or not folder.is_dir():
        raise HTTPException(status_code=400, detail="저장 폴더를 찾을 수 없습니다.")
    _, body = job_result(job, request.format)
    name = result_name(job, request.format)
    stem, extension = name.rsplit(".", 1)
    for attempt in range(1, 1000):
        target = folder / (name if attempt == 1 else f"{stem} ({attempt}).{extension}")
        try:
            with open(target, "x", encoding="utf-8") as file:
                file.write(body)
        except FileExistsError:
            continue
        except OSError as error:
            raise HTTPException(status_code=500, detail=f"파일을 저장하지 못했습니다: {error.strerror}")
        return {"path": str(target), "name": target.name, "saved": datetime.now().isoformat(timespec="seconds")}
    raise HTTPException(status_code=409, detail="같은 이름의 파일이 너무 많습니다.")
