#!/usr/bin/python3
"""Start-up time and memory of Velmora against Chromium in app mode showing the same page.

For each run, and for each of the two (their order alternates from run to run):

  velmora   the development build started as a user would start it; it starts the reference
            backend itself (scripts/run-app.sh) on a free port.
  chromium  the user's alternative: the reference backend started the way scripts/run-app.sh
            does and waited for, then `/usr/bin/chromium --app=URL` with a fresh profile.

Both show the page in a 1480x900 window on one private Xvfb display. "Loaded" is the moment
the backend receives the page's own report from its `load` listener (served only when the
backend runs with VELMORA_BENCH_LOAD_LOG), the same for both browsers; times count from the
moment the browser process is spawned. A few seconds after the load, the PSS of the browser's
process tree (from /proc/<pid>/smaps_rollup) is summed; for Velmora the Python backend is left
out (and reported on its own). Velmora also prints its own milestones (VELMORA_TRACE_STARTUP=1):
window shown / exposed, url set, load finished.

Everything runs on loopback; everything started is stopped with SIGTERM; every wait is bounded.

    /usr/bin/python3 bench/startup_vs_chromium.py --velmora build-release/bin/velmora --runs 5
"""

import argparse
import ctypes
import json
import os
import platform
import shutil
import signal
import socket
import statistics
import subprocess
import sys
import tempfile
import time
import urllib.request
from pathlib import Path

ROOT = Path(__file__).resolve().parent.parent
CHROMIUM = "/usr/bin/chromium"
WINDOW = (1480, 900)  # Velmora's window size
LOAD_TIMEOUT = 90.0
NAN = float("nan")
STOP_TIMEOUT = 15.0


def log(*parts):
    print(*parts, file=sys.stderr, flush=True)


def free_port():
    with socket.socket(socket.AF_INET, socket.SOCK_STREAM) as s:
        s.bind(("127.0.0.1", 0))
        return s.getsockname()[1]


def loadavg():
    return " ".join(Path("/proc/loadavg").read_text().split()[:3])


# --- processes -------------------------------------------------------------------------------

def all_processes():
    """pid -> (ppid, cmdline) of every process we can see."""
    table = {}
    for entry in os.listdir("/proc"):
        if not entry.isdigit():
            continue
        try:
            stat = Path(f"/proc/{entry}/stat").read_text()
            cmdline = Path(f"/proc/{entry}/cmdline").read_bytes().replace(b"\0", b" ").decode(errors="replace")
        except OSError:
            continue
        fields = stat[stat.rfind(")") + 2:].split()
        table[int(entry)] = (int(fields[1]), cmdline)
    return table


def tree(root, table):
    """root and all its descendants."""
    children = {}
    for pid, (ppid, _) in table.items():
        children.setdefault(ppid, []).append(pid)
    found, stack = [], [root]
    while stack:
        pid = stack.pop()
        if pid in table:
            found.append(pid)
            stack.extend(children.get(pid, []))
    return found


def pss_kib(pid):
    try:
        for line in Path(f"/proc/{pid}/smaps_rollup").read_text().splitlines():
            if line.startswith("Pss:"):
                return int(line.split()[1])
    except OSError:
        pass
    return 0


def uss_kib(pid):
    """Memory of pid that no other process shares (Private_Clean + Private_Dirty)."""
    total = 0
    try:
        for line in Path(f"/proc/{pid}/smaps_rollup").read_text().splitlines():
            if line.startswith(("Private_Clean:", "Private_Dirty:")):
                total += int(line.split()[1])
    except OSError:
        pass
    return total


def uss_plus_shared_once_kib(pids):
    """The memory a process tree costs when nothing else shares it: every page private to one
    of its processes (USS), plus each shared mapping's resident pages counted once per file
    (the most any one process of the tree has resident of that file), however many processes,
    inside or outside the tree, map it. Unlike PSS it does not fall when other programs map
    the same libraries. Unnamed shared memory is keyed by its address, which forked children
    keep."""
    private = 0
    shared = {}
    for pid in pids:
        per_file = {}
        try:
            text = Path(f"/proc/{pid}/smaps").read_text()
        except OSError:
            continue
        key = None
        for line in text.splitlines():
            head = line.split(None, 1)[0] if line else ""
            if head and not head.endswith(":"):
                parts = line.split(None, 5)
                key = parts[5].strip() if len(parts) == 6 else "anon@" + parts[0]
            elif head in ("Private_Clean:", "Private_Dirty:"):
                private += int(line.split()[1])
            elif head in ("Shared_Clean:", "Shared_Dirty:"):
                per_file[key] = per_file.get(key, 0) + int(line.split()[1])
        for key, kib in per_file.items():
            shared[key] = max(shared.get(key, 0), kib)
    return private + sum(shared.values())


def sharing_processes(library, ours):
    """Processes outside ours that map library: they take a share of its pages and so lower
    our PSS (other helpers' web engine tests on a shared machine, for example)."""
    found = 0
    for entry in os.listdir("/proc"):
        if entry.isdigit() and int(entry) not in ours:
            try:
                if library in Path(f"/proc/{entry}/maps").read_text():
                    found += 1
            except OSError:
                pass
    return found


def kind(cmdline):
    """Short name of a process: program name, plus the helper type of Chromium's processes."""
    args = cmdline.split()
    if not args:
        return "?"
    name = os.path.basename(args[0])
    for arg in args[1:]:
        if arg.startswith("--type="):
            name += "/" + arg[len("--type="):]
        elif arg.startswith("--utility-sub-type="):
            name += "/" + arg[len("--utility-sub-type="):].split(".")[0]
    return name


def breakdown(pids, table):
    """MiB of PSS per kind of process, largest first."""
    sizes = {}
    for pid in pids:
        k = kind(table[pid][1])
        sizes[k] = sizes.get(k, 0) + pss_kib(pid) / 1024
    return dict(sorted(((k, round(v, 1)) for k, v in sizes.items()), key=lambda item: -item[1]))


def task_counters(pid):
    """tid -> (thread name, voluntary context switches, CPU time in clock ticks) of every thread of pid."""
    found = {}
    try:
        tids = os.listdir(f"/proc/{pid}/task")
    except OSError:
        return found
    for tid in tids:
        try:
            stat = Path(f"/proc/{pid}/task/{tid}/stat").read_text()
            status = Path(f"/proc/{pid}/task/{tid}/status").read_text()
        except OSError:
            continue
        name = stat[stat.find("(") + 1:stat.rfind(")")]
        try:
            # Nanoseconds on a CPU; utime + stime count only whole 10 ms ticks.
            ticks = int(Path(f"/proc/{pid}/task/{tid}/schedstat").read_text().split()[0]) / 1e9 * os.sysconf("SC_CLK_TCK")
        except (OSError, ValueError, IndexError):
            fields = stat[stat.rfind(")") + 2:].split()
            ticks = int(fields[11]) + int(fields[12])
        voluntary = next(int(l.split()[1]) for l in status.splitlines() if l.startswith("voluntary_ctxt_switches"))
        found[int(tid)] = (name, voluntary, ticks)
    return found


def idle_profile(groups, seconds):
    """Wake-ups (voluntary context switches: each time a thread slept and was woken) and CPU
    time over seconds of doing nothing. groups: {group: [(pid, accept)]}, where accept(tid,
    pid, name) picks the threads of pid that belong to the group (None: all of them). Threads
    that come or go meanwhile count from when they are seen."""
    def sample():
        return {(g, pid): task_counters(pid) for g, members in groups.items() for pid, _ in members}
    before = sample()
    time.sleep(seconds)
    after = sample()
    hz = os.sysconf("SC_CLK_TCK")
    result = {}
    for g, members in groups.items():
        wakeups, ticks, by_thread = 0, 0, {}
        for pid, accept in members:
            then = before[(g, pid)]
            for tid, (name, voluntary, cpu) in after[(g, pid)].items():
                if accept is not None and not accept(tid, pid, name):
                    continue
                old = then.get(tid, (name, voluntary, cpu))
                wakeups += voluntary - old[1]
                ticks += cpu - old[2]
                key = ("main thread " if tid == pid else "") + name
                by_thread[key] = by_thread.get(key, 0) + voluntary - old[1]
        busiest = sorted(((k, round(v / seconds, 2)) for k, v in by_thread.items() if v), key=lambda i: -i[1])
        result[g] = {"wakeups_per_s": round(wakeups / seconds, 2),
                     "cpu_percent": round(100.0 * ticks / hz / seconds, 3),
                     "busiest_threads_per_s": dict(busiest[:8])}
    return result


def velmora_own_thread(tid, pid, name):
    """Velmora's own threads in its process: the main thread and Qt's (named Q...), as against
    the web engine's browser-process threads that run inside the same process."""
    return tid == pid or name.startswith("Q")


def alive(pid):
    try:
        os.kill(pid, 0)
    except ProcessLookupError:
        return False
    # A zombie child still answers kill(0).
    try:
        return Path(f"/proc/{pid}/stat").read_text().split(") ")[1][0] != "Z"
    except (OSError, IndexError):
        return False


def become_subreaper():
    """Orphans of what we start (Chromium's crash handlers detach themselves) become our
    children instead of init's, so they are measured, stopped and reaped with the rest."""
    PR_SET_CHILD_SUBREAPER = 36
    libc = ctypes.CDLL(None, use_errno=True)
    if libc.prctl(PR_SET_CHILD_SUBREAPER, 1, 0, 0, 0) != 0:
        log("warning: could not become a subreaper; detached helpers are not counted")


def started_by_us(keep):
    """Every process below this script except the pids in keep (and their trees)."""
    table = all_processes()
    ours = set(tree(os.getpid(), table)) - {os.getpid()}
    for pid in keep:
        ours -= set(tree(pid, table))
    return table, ours


def clean_up(keep):
    """SIGTERMs whatever we started that is still there (except keep) and reaps adopted orphans."""
    _, left = started_by_us(keep)
    left = terminate(sorted(left)) if left else []
    while True:
        try:
            pid, _ = os.waitpid(-1, os.WNOHANG)
        except ChildProcessError:
            break
        if pid == 0:
            break
    if left:
        log("still running after SIGTERM:", left)


def terminate(pids, timeout=STOP_TIMEOUT, popen=None):
    """SIGTERM each pid, then wait (bounded) until all are gone. Returns the ones still there."""
    for pid in pids:
        try:
            os.kill(pid, signal.SIGTERM)
        except ProcessLookupError:
            pass
    deadline = time.monotonic() + timeout
    while time.monotonic() < deadline:
        if popen is not None:
            popen.poll()
        left = [pid for pid in pids if alive(pid)]
        if not left:
            return []
        time.sleep(0.05)
    return [pid for pid in pids if alive(pid)]


# --- page load report ------------------------------------------------------------------------

def wait_for_load(record, processes, timeout=LOAD_TIMEOUT):
    """Monotonic time of the first load report, or None (timeout or a browser that exited)."""
    deadline = time.monotonic() + timeout
    while time.monotonic() < deadline:
        try:
            for line in record.read_text().splitlines():
                fields = line.split()
                if len(fields) == 2:
                    return float(fields[1])
        except OSError:
            pass
        if any(p.poll() is not None for p in processes):
            return None
        time.sleep(0.01)
    return None


def painted(record, timeout=5.0):
    """Monotonic time of the page's first contentful paint as the page reported it, or None."""
    deadline = time.monotonic() + timeout
    while time.monotonic() < deadline:
        try:
            for line in record.read_text().splitlines():
                fields = line.split()
                if len(fields) == 3 and fields[0] == "paint":
                    return float(fields[2])
        except OSError:
            pass
        time.sleep(0.01)
    return None


def load_and_paint(record, processes, spawned, what, log):
    """The page's load and first paint, in seconds since spawned; fails when no load came."""
    loaded = wait_for_load(record, processes)
    if loaded is None:
        raise RuntimeError("%s: no load report (see %s)" % (what, log))
    first_paint = painted(record)
    return {"load_s": loaded - spawned, "paint_s": None if first_paint is None else first_paint - spawned}


def backend_tree(pids, table):
    """The reference backend's processes among pids (its bash parent has exec'd into uvicorn)."""
    return {p for b in pids if "uvicorn" in table[b][1] for p in tree(b, table)}


def memory_figures(pids, table, library):
    """Every memory figure of one browser's processes; library names the engine's own library."""
    return {
        "pss_mib": sum(pss_kib(p) for p in pids) / 1024,
        "uss_mib": sum(uss_kib(p) for p in pids) / 1024,
        "uss_shared_once_mib": uss_plus_shared_once_kib(pids) / 1024,
        "other_processes_sharing_the_engine": sharing_processes(library, pids),
        "processes": len(pids),
        "pss_by_process_mib": breakdown(pids, table),
    }


def healthy(port, parent_pid):
    try:
        with urllib.request.urlopen(f"http://127.0.0.1:{port}/healthz", timeout=1) as reply:
            body = json.loads(reply.read())
    except (OSError, ValueError):
        return False
    return body.get("ok") is True and body.get("desktop_parent_pid") == str(parent_pid)


# --- Xvfb ------------------------------------------------------------------------------------

class Display:
    def __init__(self):
        read_end, write_end = os.pipe()
        self.process = subprocess.Popen(
            ["Xvfb", "-displayfd", str(write_end), "-noreset", "-screen", "0", "1920x1080x24", "-nolisten", "tcp"],
            pass_fds=(write_end,), stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        os.close(write_end)
        number = b""
        deadline = time.monotonic() + 20
        while not number.endswith(b"\n") and time.monotonic() < deadline:
            chunk = os.read(read_end, 16)
            if not chunk:
                break
            number += chunk
        os.close(read_end)
        if not number.strip():
            self.stop()
            raise RuntimeError("Xvfb did not start")
        self.name = ":" + number.decode().strip()

    def stop(self):
        terminate([self.process.pid], popen=self.process)
        self.process.wait(timeout=5)


# --- one measurement of each -----------------------------------------------------------------

def base_environment(display, scratch):
    env = dict(os.environ)
    env.pop("WAYLAND_DISPLAY", None)
    env.update({
        "DISPLAY": display,
        "QT_QPA_PLATFORM": "xcb",
        "XDG_RUNTIME_DIR": str(scratch / "runtime"),
        "XDG_CONFIG_HOME": str(scratch / "config"),
        "XDG_DATA_HOME": str(scratch / "data"),
        "XDG_CACHE_HOME": str(scratch / "cache"),
    })
    for key in ("runtime", "config", "data", "cache"):
        (scratch / key).mkdir(mode=0o700, exist_ok=True)
    return env


def measure_velmora(velmora, display, settle, keep, idle=0.0, flags=""):
    scratch = Path(tempfile.mkdtemp(prefix="velmora-bench-"))
    record = scratch / "loaded.log"
    env = base_environment(display, scratch)
    env.update({
        "QTWEBENGINE_DISABLE_SANDBOX": "1",
        "QTWEBENGINE_CHROMIUM_FLAGS": ("--disable-gpu " + flags).strip(),
        "VELMORA_TRACE_STARTUP": "1",
        "VELMORA_BENCH_LOAD_LOG": str(record),
        "VELMORA_DESKTOP_PORT": str(free_port()),
    })
    errors = open(scratch / "stderr.log", "wb")
    load_before = loadavg()
    spawned = time.monotonic()
    app = subprocess.Popen([velmora], env=env, stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL,
                           stderr=errors, cwd=scratch)
    result = {"browser": "velmora", "loadavg_before": load_before}
    backend_pids = []
    try:
        result.update(load_and_paint(record, [app], spawned, "velmora", scratch / "stderr.log"))
        time.sleep(settle)
        table, pids = started_by_us(keep)
        backend_pids = [pid for pid in pids if "uvicorn" in table[pid][1]]
        backend = backend_tree(pids, table)
        result.update(memory_figures(pids - backend, table, "libQt6WebEngineCore"))
        result["backend_pss_mib"] = sum(pss_kib(p) for p in backend) / 1024
        if idle > 0:
            engine = [(p, None) for p in pids - backend if p != app.pid]
            result["idle"] = idle_profile({
                "velmora_own": [(app.pid, velmora_own_thread)],
                "velmora_engine_in_process": [(app.pid, lambda tid, pid, name: not velmora_own_thread(tid, pid, name))],
                "velmora_engine_processes": engine,
                "velmora_all": [(app.pid, None)] + engine,
            }, idle)
        result["loadavg_after"] = loadavg()
    finally:
        result["velmora_left_running"] = bool(terminate([app.pid], popen=app))
        # Velmora asks its backend to stop on the way out; wait for that before cleaning up.
        deadline = time.monotonic() + STOP_TIMEOUT
        while any(alive(p) for p in backend_pids) and time.monotonic() < deadline:
            time.sleep(0.05)
        result["backend_left_running"] = [p for p in backend_pids if alive(p)]
        errors.close()
        clean_up(keep)
    trace, pauses, clock = {}, {}, None
    for line in (scratch / "stderr.log").read_text(errors="replace").splitlines():
        parts = line.split()
        if len(parts) == 3 and parts[0] == "velmora-trace":
            trace[parts[1]] = float(parts[2]) / 1000
        elif len(parts) == 3 and parts[0] == "velmora-trace-pause":
            pauses[parts[1]] = float(parts[2])
        elif len(parts) == 3 and parts[0] == "velmora-trace-clock":
            clock = (float(parts[1]) / 1000, float(parts[2]))
    result["trace_s"] = trace
    result["longest_main_thread_pause_ms"] = pauses
    # The milestones on this script's clock, counted from the spawn (exact to the millisecond;
    # the trace's own times count from the kernel's start tick of the process).
    if clock is not None:
        since_spawn = {event: clock[1] - (clock[0] - at) - spawned for event, at in trace.items()}
        result["since_spawn_s"] = since_spawn
        if "backend-launched" in since_spawn:
            result["spawn_to_launch_ms"] = 1000 * since_spawn["backend-launched"]
        if "main-entered" in since_spawn:
            result["spawn_to_main_ms"] = 1000 * since_spawn["main-entered"]
        if "url-set" in since_spawn:
            url = spawned + since_spawn["url-set"]
            result["url_to_load_ms"] = 1000 * (result["load_s"] + spawned - url)
            if result.get("paint_s") is not None:
                result["url_to_paint_ms"] = 1000 * (result["paint_s"] + spawned - url)
    shutil.rmtree(scratch, ignore_errors=True)
    return result


def measure_bare(bare, display, settle, keep, software=False):
    """The bare program of bench/bare_webview.cpp: the same backend and a QWebEngineView on its
    page, started at the same instant; measured as Velmora is. With software, it draws as
    Velmora draws where the engine has no GPU: Qt Quick's software renderer, no GL driver."""
    scratch = Path(tempfile.mkdtemp(prefix="bare-bench-"))
    record = scratch / "loaded.log"
    env = base_environment(display, scratch)
    env.update({
        "QTWEBENGINE_DISABLE_SANDBOX": "1",
        "QTWEBENGINE_CHROMIUM_FLAGS": "--disable-gpu",
        "VELMORA_BENCH_LOAD_LOG": str(record),
        "VELMORA_DESKTOP_PORT": str(free_port()),
    })
    if software:
        env.update({"QT_QUICK_BACKEND": "software", "QT_XCB_GL_INTEGRATION": "none"})
    errors = open(scratch / "stderr.log", "wb")
    result = {"browser": "bare_sw" if software else "bare", "loadavg_before": loadavg()}
    spawned = time.monotonic()
    app = subprocess.Popen([bare, str(ROOT)], env=env, stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL,
                           stderr=errors, cwd=scratch)
    try:
        result.update(load_and_paint(record, [app], spawned, result["browser"], scratch / "stderr.log"))
        time.sleep(settle)
        table, pids = started_by_us(keep)
        result.update(memory_figures(pids - backend_tree(pids, table), table, "libQt6WebEngineCore"))
        result["loadavg_after"] = loadavg()
    finally:
        terminate([app.pid], popen=app)
        errors.close()
        clean_up(keep)
    shutil.rmtree(scratch, ignore_errors=True)
    return result


def measure_chromium(display, settle, keep, idle=0.0):
    scratch = Path(tempfile.mkdtemp(prefix="chromium-bench-"))
    record = scratch / "loaded.log"
    env = base_environment(display, scratch)
    port = free_port()
    backend_env = dict(env)
    backend_env.update({
        "VELMORA_DESKTOP_HOST": "127.0.0.1",
        "VELMORA_DESKTOP_PORT": str(port),
        "VELMORA_DESKTOP_PARENT_PID": str(os.getpid()),
        "VELMORA_BENCH_LOAD_LOG": str(record),
    })
    result = {"browser": "chromium", "loadavg_before": loadavg()}
    backend_log = open(scratch / "backend.log", "wb")
    backend_spawned = time.monotonic()
    backend = subprocess.Popen(["/bin/bash", str(ROOT / "scripts/run-app.sh")], env=backend_env, cwd=ROOT,
                               stdin=subprocess.DEVNULL, stdout=backend_log, stderr=subprocess.STDOUT)
    browser = None
    chromium_log = open(scratch / "chromium.log", "wb")
    try:
        deadline = time.monotonic() + 60
        while not healthy(port, os.getpid()):
            if backend.poll() is not None or time.monotonic() > deadline:
                raise RuntimeError("reference backend did not start (see %s)" % (scratch / "backend.log"))
            time.sleep(0.02)
        result["backend_ready_s"] = time.monotonic() - backend_spawned

        profile = scratch / "profile"
        spawned = time.monotonic()
        browser = subprocess.Popen(
            [CHROMIUM, f"--app=http://127.0.0.1:{port}/", "--no-sandbox", "--disable-gpu", "--no-first-run",
             "--disable-background-networking", "--disable-component-update", "--disable-sync",
             "--password-store=basic", f"--window-size={WINDOW[0]},{WINDOW[1]}", f"--user-data-dir={profile}"],
            env=env, stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL,
            stderr=chromium_log, cwd=scratch)
        result.update(load_and_paint(record, [browser, backend], spawned, "chromium", scratch / "chromium.log"))
        time.sleep(settle)
        table, pids = started_by_us(keep + [backend.pid])
        result.update(memory_figures(pids, table, "/usr/lib/chromium/chromium"))
        if idle > 0:
            result["idle"] = idle_profile({"chromium_all": [(p, None) for p in pids]}, idle)
        result["loadavg_after"] = loadavg()
    finally:
        if browser is not None:
            terminate([browser.pid], popen=browser)
        terminate([backend.pid], popen=backend)
        backend_log.close()
        chromium_log.close()
        clean_up(keep)
    shutil.rmtree(scratch, ignore_errors=True)
    return result


# --- report ----------------------------------------------------------------------------------

def machine():
    cpu = next((l.split(":", 1)[1].strip() for l in Path("/proc/cpuinfo").read_text().splitlines()
                if l.startswith("model name")), "?")
    mem = next((l.split(":", 1)[1].strip() for l in Path("/proc/meminfo").read_text().splitlines()
                if l.startswith("MemTotal")), "?")
    chromium = subprocess.run([CHROMIUM, "--version"], capture_output=True, text=True, timeout=30).stdout.strip()
    return {"cpu": cpu, "cores": os.cpu_count(), "memory": mem, "kernel": platform.release(), "chromium": chromium}


def med(values):
    return statistics.median(values) if values else float("nan")


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("--velmora", default=str(ROOT / "build-release/bin/velmora"))
    parser.add_argument("--runs", type=int, default=5)
    parser.add_argument("--settle", type=float, default=3.0, help="seconds between load and the memory sample")
    parser.add_argument("--json", help="also write every measurement to this file")
    parser.add_argument("--idle", type=float, default=0.0,
                        help="after the memory sample, count wake-ups and CPU time over this many idle seconds")
    parser.add_argument("--velmora-flags", default="",
                        help="extra web engine flags for Velmora (QTWEBENGINE_CHROMIUM_FLAGS), to try one lever")
    parser.add_argument("--bare", default=str(ROOT / "build-release/bin/bench_bare_webview"),
                        help="the bare program (bench/bare_webview.cpp); measured when it exists")
    parser.add_argument("--only", choices=["velmora", "chromium", "bare", "bare_sw"], help="measure one of them")
    args = parser.parse_args()
    args.velmora = os.path.abspath(args.velmora)
    args.bare = os.path.abspath(args.bare)

    info = machine()
    info["date"] = time.strftime("%Y-%m-%d %H:%M UTC", time.gmtime())
    log("machine:", info)
    become_subreaper()
    display = Display()
    keep = [display.process.pid]
    runs = []
    try:
        for i in range(args.runs):
            # One after another, never at once: nothing else maps the engine while one is measured.
            order = ["velmora", "chromium", "bare", "bare_sw"]
            order = order[i % 4:] + order[:i % 4]
            for which in order:
                if args.only and which != args.only:
                    continue
                if which.startswith("bare") and (args.idle > 0 or not os.path.exists(args.bare)):
                    continue
                if which == "velmora":
                    r = measure_velmora(args.velmora, display.name, args.settle, keep, args.idle, args.velmora_flags)
                elif which.startswith("bare"):
                    r = measure_bare(args.bare, display.name, args.settle, keep, software=which == "bare_sw")
                else:
                    r = measure_chromium(display.name, args.settle, keep, args.idle)
                r["run"] = i
                runs.append(r)
                log(json.dumps(r))
    finally:
        display.stop()

    v = [r for r in runs if r["browser"] == "velmora"]
    c = [r for r in runs if r["browser"] == "chromium"]
    b = [r for r in runs if r["browser"] == "bare"]
    bs = [r for r in runs if r["browser"] == "bare_sw"]
    present = lambda runs, key: [r[key] for r in runs if r.get(key) is not None]
    tr = lambda key: [r["trace_s"][key] for r in v if key in r["trace_s"]]
    summary = {
        "velmora_load_s": med([r["load_s"] for r in v]),
        "velmora_url_set_s": med(tr("url-set")),
        "velmora_window_exposed_s": med(tr("window-exposed")),
        "velmora_view_created_s": med(tr("view-created")),
        "velmora_longest_pause_until_url_ms": med([r["longest_main_thread_pause_ms"]["until-url"] for r in v
                                                    if "until-url" in r["longest_main_thread_pause_ms"]]),
        "velmora_longest_pause_url_to_load_ms": med([r["longest_main_thread_pause_ms"]["url-to-load"] for r in v
                                                      if "url-to-load" in r["longest_main_thread_pause_ms"]]),
        "velmora_load_after_url_s": med([r["load_s"] - r["trace_s"]["url-set"] for r in v if "url-set" in r["trace_s"]]),
        "velmora_pss_mib": med([r["pss_mib"] for r in v]),
        "velmora_uss_mib": med([r["uss_mib"] for r in v]),
        "chromium_uss_mib": med([r["uss_mib"] for r in c]),
        "velmora_backend_pss_mib": med([r["backend_pss_mib"] for r in v]),
        "chromium_load_s": med([r["load_s"] for r in c]),
        "chromium_backend_ready_s": med([r["backend_ready_s"] for r in c]),
        "chromium_backend_plus_load_s": med([r["backend_ready_s"] + r["load_s"] for r in c]),
        "chromium_pss_mib": med([r["pss_mib"] for r in c]),
        "velmora_spawn_to_launch_ms": med(present(v, "spawn_to_launch_ms")),
        "velmora_spawn_to_main_ms": med(present(v, "spawn_to_main_ms")),
        "velmora_url_to_paint_ms": med(present(v, "url_to_paint_ms")),
        "velmora_url_to_load_ms": med(present(v, "url_to_load_ms")),
        "velmora_paint_s": med(present(v, "paint_s")),
        "chromium_paint_s": med(present(c, "paint_s")),
        "bare_load_s": med([r["load_s"] for r in b]),
        "bare_paint_s": med(present(b, "paint_s")),
        "velmora_uss_shared_once_mib": med([r["uss_shared_once_mib"] for r in v]),
        "bare_uss_shared_once_mib": med([r["uss_shared_once_mib"] for r in b]),
        "chromium_uss_shared_once_mib": med([r["uss_shared_once_mib"] for r in c]),
        "bare_pss_mib": med([r["pss_mib"] for r in b]),
        "bare_sw_load_s": med([r["load_s"] for r in bs]),
        "bare_sw_paint_s": med(present(bs, "paint_s")),
        "bare_sw_uss_shared_once_mib": med([r["uss_shared_once_mib"] for r in bs]),
    }
    summary["ratio_load_vs_bare"] = summary["velmora_load_s"] / summary["bare_load_s"] if b else NAN
    summary["ratio_memory_vs_chromium"] = summary["velmora_uss_shared_once_mib"] / summary["chromium_uss_shared_once_mib"]
    summary["memory_over_bare_mib"] = (summary["velmora_uss_shared_once_mib"] - summary["bare_uss_shared_once_mib"]
                                       if b else NAN)
    summary["ratio_memory_bare_vs_chromium"] = (summary["bare_uss_shared_once_mib"]
                                                / summary["chromium_uss_shared_once_mib"] if b else NAN)
    summary["ratio_load_vs_bare_sw"] = summary["velmora_load_s"] / summary["bare_sw_load_s"] if bs else NAN
    summary["memory_over_bare_sw_mib"] = (summary["velmora_uss_shared_once_mib"] - summary["bare_sw_uss_shared_once_mib"]
                                          if bs else NAN)
    summary["ratio_memory_bare_sw_vs_chromium"] = (summary["bare_sw_uss_shared_once_mib"]
                                                   / summary["chromium_uss_shared_once_mib"] if bs else NAN)
    # Pairwise per run (the three of one run ran back to back, under the same load).
    per_run = []
    for i in sorted({r["run"] for r in runs}):
        rv = [r for r in v if r["run"] == i]
        rc = [r for r in c if r["run"] == i]
        rb = [r for r in b if r["run"] == i]
        rbs = [r for r in bs if r["run"] == i]
        if rv and rc:
            entry = {"run": i, "vs_alternative": rv[0]["load_s"] / (rc[0]["backend_ready_s"] + rc[0]["load_s"])}
            if rb:
                entry["vs_bare"] = rv[0]["load_s"] / rb[0]["load_s"]
            if rbs:
                entry["vs_bare_sw"] = rv[0]["load_s"] / rbs[0]["load_s"]
            per_run.append(entry)
    summary["ratio_load_vs_alternative_per_run_median"] = med([e["vs_alternative"] for e in per_run])
    summary["ratio_load_vs_bare_per_run_median"] = med([e["vs_bare"] for e in per_run if "vs_bare" in e])
    summary["ratio_load_vs_bare_sw_per_run_median"] = med([e["vs_bare_sw"] for e in per_run if "vs_bare_sw" in e])
    summary["ratio_load"] = summary["velmora_load_s"] / summary["chromium_load_s"]
    summary["ratio_load_vs_backend_plus_chromium"] = summary["velmora_load_s"] / summary["chromium_backend_plus_load_s"]
    summary["ratio_pss"] = summary["velmora_pss_mib"] / summary["chromium_pss_mib"]
    summary["ratio_uss"] = summary["velmora_uss_mib"] / summary["chromium_uss_mib"]
    # Other processes mapping the engine's library (web engine tests of other work on the same
    # machine) take a share of its pages: only samples without any compare fairly.
    alone = [r["pss_mib"] for r in v if r.get("other_processes_sharing_the_engine") == 0]
    summary["velmora_pss_alone_mib"] = med(alone)
    summary["velmora_pss_alone_samples"] = len(alone)
    summary["ratio_pss_alone"] = summary["velmora_pss_alone_mib"] / summary["chromium_pss_mib"]
    idle = lambda runs, group, key: med([r["idle"][group][key] for r in runs if "idle" in r])
    if any("idle" in r for r in runs):
        for group in ("velmora_own", "velmora_engine_in_process", "velmora_engine_processes", "velmora_all"):
            summary["idle_%s_wakeups_per_s" % group] = idle(v, group, "wakeups_per_s")
            summary["idle_%s_cpu_percent" % group] = idle(v, group, "cpu_percent")
        summary["idle_chromium_all_wakeups_per_s"] = idle(c, "chromium_all", "wakeups_per_s")
        summary["idle_chromium_all_cpu_percent"] = idle(c, "chromium_all", "cpu_percent")
        summary["ratio_idle_wakeups_all"] = (summary["idle_velmora_all_wakeups_per_s"]
                                             / summary["idle_chromium_all_wakeups_per_s"])

    print("machine: %(cpu)s, %(cores)s cores, %(memory)s, Linux %(kernel)s, %(chromium)s; %(date)s" % info)
    print("run browser   load_s  pss_MiB procs  loadavg(before | after)  extra")
    for r in runs:
        extra = ""
        if r["browser"] == "velmora":
            t = r["trace_s"]
            p = r["longest_main_thread_pause_ms"]
            extra = ("exposed %.3f url-set %.3f view-created %.3f load-finished %.3f; backend %.1f MiB; "
                     "longest main-thread pause %.0f ms until url, %.0f ms url to load") % (
                t.get("window-exposed", NAN), t.get("url-set", NAN), t.get("view-created", NAN),
                t.get("load-finished", NAN), r["backend_pss_mib"], p.get("until-url", NAN), p.get("url-to-load", NAN))
            extra += ("; spawn to main %.1f ms, to backend launch %.1f ms; url to first paint %.0f ms, url to load "
                      "%.0f ms") % (r.get("spawn_to_main_ms", NAN), r.get("spawn_to_launch_ms", NAN),
                                    r.get("url_to_paint_ms", NAN), r.get("url_to_load_ms", NAN))
        elif r["browser"].startswith("bare"):
            extra = "first paint %.3f s" % (r["paint_s"] if r.get("paint_s") is not None else NAN)
        else:
            extra = "backend ready after %.3f s (started first, not counted in load_s)" % r["backend_ready_s"]
        print("%3d %-9s %6.3f %8.1f %5d  %s | %s  %s" % (r["run"], r["browser"], r["load_s"], r["pss_mib"],
                                                         r["processes"], r["loadavg_before"], r["loadavg_after"], extra))
        print("      PSS by process: %s; USS %.1f MiB; USS + shared once %.1f MiB; other processes sharing the "
              "engine's library: %d" % (json.dumps(r["pss_by_process_mib"]), r["uss_mib"], r["uss_shared_once_mib"],
                                        r["other_processes_sharing_the_engine"]))
        for group, figures in r.get("idle", {}).items():
            print("      idle %-26s %6.2f wake-ups/s  CPU %.3f %%  busiest: %s" % (
                group, figures["wakeups_per_s"], figures["cpu_percent"], json.dumps(figures["busiest_threads_per_s"])))
    print("medians:", json.dumps(summary, indent=1))
    if args.json:
        Path(args.json).write_text(json.dumps({"machine": info, "runs": runs, "summary": summary}, indent=1))


if __name__ == "__main__":
    main()
