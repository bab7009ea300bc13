#!/usr/bin/env python3
"""Fails when an include in Velmora/ points from a lower layer to a higher one.

Layers, lowest first: platform, widgets, then backend, access and updates side by side (none of
the three includes another), workspace, window, app. A higher layer reaches a lower one through
a narrow interface that the higher one implements.

Every source and header is listed in Velmora/CMakeLists.txt, so which library holds a file is
a decision someone made, not an accident of a glob.
"""
import pathlib
import re
import sys

LAYERS = {
    "platform": 0,
    "widgets": 1,
    "backend": 2,
    "access": 2,
    "updates": 2,
    "workspace": 3,
    "window": 4,
    "app": 5,
}
INCLUDE = re.compile(r'^\s*#\s*include\s+"([a-z]+)/[^"]+"', re.MULTILINE)


def main(root: pathlib.Path) -> int:
    faults = []
    listing = (root / "CMakeLists.txt").read_text(encoding="utf-8")
    listed = set(re.findall(r"[\w/.]+\.(?:h|cpp|in)\b", listing))
    for source in sorted(root.rglob("*")):
        if source.suffix not in (".h", ".cpp", ".in") or not source.is_file():
            continue
        folder = source.relative_to(root).parts[0]
        if source.relative_to(root).as_posix() not in listed:
            faults.append(f"{source.relative_to(root)}: not listed in CMakeLists.txt")
        if folder not in LAYERS:
            faults.append(f"{source.relative_to(root)}: folder '{folder}' has no layer")
            continue
        for match in INCLUDE.finditer(source.read_text(encoding="utf-8")):
            target = match.group(1)
            if target not in LAYERS:
                continue
            higher = LAYERS[target] > LAYERS[folder]
            sibling = LAYERS[target] == LAYERS[folder] and target != folder
            if higher or sibling:
                faults.append(f"{source.relative_to(root)} includes {match.group(0).split()[-1]}")
    for fault in faults:
        print(fault)
    return 1 if faults else 0


if __name__ == "__main__":
    sys.exit(main(pathlib.Path(sys.argv[1])))
