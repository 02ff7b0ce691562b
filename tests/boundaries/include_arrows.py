#!/usr/bin/env python3
"""Holds every #include "folder/header.h" of the library sources to the
arrows between the library folders.

usage: include_arrows.py SOURCE_ROOT ARROW...
where each ARROW is "folder:allowed,allowed" (TABROOK_ARROWS of the top
CMakeLists.txt). A folder's sources may include its own headers and those of
every folder its arrows reach, directly or through another folder; each
other include of a project header is printed as
"<file>:<line>: <folder>/ includes <header>" and the exit status is 1.
"""

import re
import sys
from pathlib import Path

INCLUDE = re.compile(r'^\s*#\s*include\s+"([^"]+)"')
SOURCES = ("*.h", "*.cpp", "*.c")


def parse_arrows(arrows):
    direct = {}
    for arrow in arrows:
        folder, _, allowed = arrow.partition(":")
        direct[folder] = [name for name in allowed.split(",") if name]
    return direct


def reachable(direct, folder):
    seen, todo = set(), list(direct.get(folder, []))
    while todo:
        name = todo.pop()
        if name not in seen:
            seen.add(name)
            todo.extend(direct.get(name, []))
    return seen


def violations(root, direct):
    """(file, line, folder, header) of every include an arrow does not allow."""
    found = []
    for folder in direct:
        allowed = reachable(direct, folder) | {folder}
        for pattern in SOURCES:
            for source in sorted((root / folder).glob(pattern)):
                lines = source.read_text(encoding="utf-8", errors="replace").splitlines()
                for number, text in enumerate(lines, 1):
                    match = INCLUDE.match(text)
                    if not match or "/" not in match.group(1):
                        continue
                    header = match.group(1)
                    target = header.rsplit("/", 1)[0]
                    if (root / header).is_file() and target not in allowed:
                        found.append((source.relative_to(root), number, folder, header))
    return found


def main(argv):
    if len(argv) < 3:
        sys.exit(__doc__)
    root = Path(argv[1])
    direct = parse_arrows(argv[2:])
    missing = [folder for folder in direct if not (root / folder).is_dir()]
    if missing:
        sys.exit(f"no such folder under {root}: {', '.join(missing)}")
    found = violations(root, direct)
    for source, number, folder, header in found:
        print(f"{source}:{number}: {folder}/ includes {header}")
    if found:
        return 1
    print(f"include arrows ok ({len(direct)} folders)")
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
