#!/usr/bin/python3
"""One table of every benchmark's figures and ratios, read from the raw output that
run-all.sh leaves in a folder (bench/results by default); with a second folder (an earlier
run, such as the accepted results before this run replaced them), that run's Velmora figure
and ratio stand beside each row.

    /usr/bin/python3 bench/summary.py [FOLDER [EARLIER_FOLDER]]
"""

import json
import re
import sys
from pathlib import Path

NAN = float("nan")


def read(folder, name):
    path = folder / name
    return path.read_text(errors="replace") if path.exists() else ""


def loads(text):
    """The load averages stamped at the start and the end of a raw file."""
    found = re.findall(r"load average:? ([\d.]+)", text)
    return "%s–%s" % (found[0], found[-1]) if found else "?"


def fmt(value, unit="", digits=3):
    return "–" if value is None or value != value else ("%.*f%s" % (digits, value, unit))


def table(folder):
    rows = []  # (figure, Velmora, Chromium, ratio, target, load)

    startup = folder / "startup_vs_chromium.json"
    if startup.exists():
        s = json.loads(startup.read_text())["summary"]
        load = loads(read(folder, "startup_vs_chromium.txt"))
        rows.append(("start-up: spawn → page loaded (Chromium: backend ready + Chromium)",
                     fmt(s["velmora_load_s"], " s"), fmt(s["chromium_backend_plus_load_s"], " s"),
                     fmt(s["ratio_load_vs_backend_plus_chromium"], "", 2), "≤ 0.70", load))
        rows.append(("start-up: spawn → page loaded (Chromium on a running backend)",
                     fmt(s["velmora_load_s"], " s"), fmt(s["chromium_load_s"], " s"),
                     fmt(s["ratio_load"], "", 2), "", load))
        rows.append(("start-up: url set; longest main-thread pause before it",
                     "%s; %s" % (fmt(s["velmora_url_set_s"], " s"), fmt(s["velmora_longest_pause_until_url_ms"], " ms", 0)),
                     "", "", "≤ 16 ms", load))
        rows.append(("memory: PSS with the page loaded (backend excluded), all samples",
                     fmt(s["velmora_pss_mib"], " MiB", 1), fmt(s["chromium_pss_mib"], " MiB", 1),
                     fmt(s["ratio_pss"], "", 2), "", load))
        if "velmora_spawn_to_launch_ms" in s:
            rows.append(("start-up: spawn → backend launched (main entered)",
                         "%s (%s)" % (fmt(s["velmora_spawn_to_launch_ms"], " ms", 1),
                                      fmt(s.get("velmora_spawn_to_main_ms", NAN), " ms", 1)), "", "", "≤ 50 ms", load))
            rows.append(("start-up: url set → first paint; → load finished (page's report)",
                         "%s; %s" % (fmt(s["velmora_url_to_paint_ms"], " ms", 0), fmt(s["velmora_url_to_load_ms"], " ms", 0)),
                         "", "", "≤ 100 ms (paint)", load))
            rows.append(("start-up: per-run median of Velmora / (backend ready + Chromium)",
                         "", "", fmt(s["ratio_load_vs_alternative_per_run_median"], "", 2), "≤ 0.70", load))
        if s.get("bare_load_s") == s.get("bare_load_s") and "bare_load_s" in s:
            rows.append(("start-up: spawn → page loaded, against the bare program (Chromium column: bare)",
                         fmt(s["velmora_load_s"], " s"), "bare %s" % fmt(s["bare_load_s"], " s"),
                         fmt(s["ratio_load_vs_bare"], "", 2), "≤ 1.05", load))
            rows.append(("start-up: per-run median of Velmora / bare program",
                         "", "", fmt(s["ratio_load_vs_bare_per_run_median"], "", 2), "≤ 1.05", load))
        if s.get("bare_sw_load_s") == s.get("bare_sw_load_s") and "bare_sw_load_s" in s:
            rows.append(("start-up: against the bare program drawn as Velmora draws (software, no GL)",
                         fmt(s["velmora_load_s"], " s"), "bare_sw %s" % fmt(s["bare_sw_load_s"], " s"),
                         fmt(s["ratio_load_vs_bare_sw"], "", 2), "", load))
            rows.append(("start-up: per-run median of Velmora / bare program drawn as Velmora draws",
                         "", "", fmt(s["ratio_load_vs_bare_sw_per_run_median"], "", 2), "", load))
        if "velmora_uss_shared_once_mib" in s:
            rows.append(("memory: USS + shared libraries once (backend excluded)",
                         fmt(s["velmora_uss_shared_once_mib"], " MiB", 1), fmt(s["chromium_uss_shared_once_mib"], " MiB", 1),
                         fmt(s["ratio_memory_vs_chromium"], "", 2), "≤ 0.75", load))
            if s.get("bare_uss_shared_once_mib") == s.get("bare_uss_shared_once_mib"):
                rows.append(("memory: the same, bare program (Velmora column: Velmora − bare)",
                             fmt(s["memory_over_bare_mib"], " MiB", 1), "bare %s" % fmt(s["bare_uss_shared_once_mib"], " MiB", 1),
                             fmt(s["ratio_memory_bare_vs_chromium"], "", 2), "≤ +20 MiB", load))
            if s.get("bare_sw_uss_shared_once_mib") == s.get("bare_sw_uss_shared_once_mib") and "bare_sw_uss_shared_once_mib" in s:
                rows.append(("memory: the same, bare program drawn as Velmora draws (Velmora − it)",
                             fmt(s["memory_over_bare_sw_mib"], " MiB", 1),
                             "bare_sw %s" % fmt(s["bare_sw_uss_shared_once_mib"], " MiB", 1),
                             fmt(s["ratio_memory_bare_sw_vs_chromium"], "", 2), "", load))
        if "velmora_pss_alone_mib" in s:
            rows.append(("memory: PSS, samples where nothing else mapped the engine (%d)" % s["velmora_pss_alone_samples"],
                         fmt(s["velmora_pss_alone_mib"], " MiB", 1), fmt(s["chromium_pss_mib"], " MiB", 1),
                         fmt(s["ratio_pss_alone"], "", 2), "≤ 0.70", load))

    idle = folder / "idle_vs_chromium.json"
    if idle.exists():
        s = json.loads(idle.read_text())["summary"]
        load = loads(read(folder, "idle_vs_chromium.txt"))
        rows.append(("idle: wake-ups/s, Velmora's own threads (main, Qt)",
                     fmt(s["idle_velmora_own_wakeups_per_s"], "", 2), "", "", "≤ 0.2", load))
        rows.append(("idle: wake-ups/s, all processes",
                     fmt(s["idle_velmora_all_wakeups_per_s"], "", 2), fmt(s["idle_chromium_all_wakeups_per_s"], "", 2),
                     fmt(s["ratio_idle_wakeups_all"], "", 2), "", load))
        rows.append(("idle: CPU over the idle period, all processes",
                     fmt(s["idle_velmora_all_cpu_percent"], " %", 3), fmt(s["idle_chromium_all_cpu_percent"], " %", 3),
                     "", "< 0.1 %", load))

    bridge = read(folder, "bridge_roundtrip.txt")
    if bridge:
        load = loads(bridge)
        def line(what):
            m = re.search(re.escape(what) + r".*?p50 ([\d.]+) ms\s+p90 ([\d.]+) ms\s+p99 ([\d.]+) ms\s+max ([\d.]+) ms", bridge)
            return [float(x) for x in m.groups()] if m else [NAN] * 4
        visible, bare, hidden = line("bridge getSaveLocation, visible"), line("bare web channel call, visible"), \
            line("bridge getSaveLocation, hidden")
        rows.append(("bridge round trip, visible: p50 / p99 (bare channel beside)",
                     "%s / %s" % (fmt(visible[0], " ms"), fmt(visible[2], " ms")),
                     "bare %s / %s" % (fmt(bare[0], " ms"), fmt(bare[2], " ms")), "",
                     "≤ 0.3 / ≤ 1 ms", load))
        rows.append(("bridge round trip, hidden: max", fmt(hidden[3], " ms"), "", "", "≤ 50 ms", load))

    backend = read(folder, "backend_start.txt")
    m = re.search(r"median over (\d+) runs: start->url (\d+) ms = backend start-up (\d+) ms \+ detection lag (\d+) ms "
                  r"\(max lag (\d+) ms", backend)
    if m:
        rows.append(("backend start: start() → url (backend start-up + detection lag, max lag)",
                     "%s ms (%s + %s, max %s)" % (m.group(2), m.group(3), m.group(4), m.group(5)), "", "", "",
                     loads(backend)))

    notes = read(folder, "release_notes_render.txt")
    m = re.search(r"largest render time .*?: ([\d.]+) ms \(([^)]*)\)", notes)
    if m:
        rows.append(("release notes: longest hold of the main thread", "%s ms (%s)" % m.groups(), "", "", "",
                     loads(notes)))

    return rows


def main():
    here = Path(__file__).resolve().parent
    folder = Path(sys.argv[1] if len(sys.argv) > 1 else here / "results")
    rows = table(folder)
    header = ("figure", "Velmora", "Chromium --app", "ratio", "target", "load avg (1 min)")
    if len(sys.argv) > 2:
        earlier = {r[0]: r for r in table(Path(sys.argv[2]))}
        header += ("earlier: Velmora; ratio (load)",)
        rows = [r + (("%s; %s (%s)" % (earlier[r[0]][1] or "–", earlier[r[0]][3] or "–", earlier[r[0]][5]))
                     if r[0] in earlier else "–",) for r in rows]
    widths = [max(len(str(r[i])) for r in rows + [header]) for i in range(len(header))]
    for r in [header, tuple("-" * w for w in widths)] + rows:
        print("  ".join(str(c).ljust(w) for c, w in zip(r, widths)).rstrip())


if __name__ == "__main__":
    main()
