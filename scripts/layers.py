#!/usr/bin/env python3
"""Keeps the source tree's floors.

Each folder of src/ stands on a floor and may include only its own headers and those of
folders on lower floors: never a folder above it, nor another folder on its own floor.
Prints every include that breaks that, as file:line, and exits with 1; exits with 0 when
there is none. Usage: scripts/layers.py [source root, default: src/ beside this script]
"""

import os
import re
import sys

# Lowest first; folders that share a floor stand side by side and never include each other.
FLOORS = [
    ("platform",),       # handle owners, errors, text, system calls
    ("json",),           # JSON documents
    ("shared",),         # what the whole process shares: configuration, journal, flags,
                         # status sink, texts
    ("feed",),           # versions, feed, release descriptor, URL trust
    ("verify",),         # signatures, file versions, installed and running copies
    ("cache",),          # the payload cache, file digests
    ("net", "launch"),   # the download; starting the installed copy
    ("core",),           # the install run and its failure report
    ("ui",),             # the window
    ("app",),            # the entry point
]

FLOOR_OF = {folder: level for level, folders in enumerate(FLOORS) for folder in folders}
INCLUDE = re.compile(r'^\s*#\s*include\s*([<"])([^">]+)[">]')
SOURCE_SUFFIXES = (".h", ".hpp", ".cpp", ".inc")


def folder_of(root, including_dir, kind, name):
    """The src/ folder that an include resolves to, or None when it resolves outside src/."""
    # A quoted name is looked for beside the including file first, as the compiler does.
    if kind == '"':
        beside = os.path.normpath(os.path.join(including_dir, name))
        if os.path.isfile(beside):
            return top_folder(root, beside)
    return top_folder(root, os.path.normpath(os.path.join(root, name)))


def top_folder(root, path):
    relative = os.path.relpath(path, root)
    parts = relative.split(os.sep)
    # Anything else (the system's headers, generated files) stands outside the tree.
    if relative.startswith("..") or len(parts) < 2 or not os.path.isdir(os.path.join(root, parts[0])):
        return None
    return parts[0]


def check(root):
    faults = []
    includes = 0
    for folder in sorted(os.listdir(root)):
        path = os.path.join(root, folder)
        if not os.path.isdir(path):
            continue
        if folder not in FLOOR_OF:
            faults.append(f"{os.path.relpath(path)}/: a folder that stands on no floor (scripts/layers.py)")
            continue
        for directory, _, names in os.walk(path):
            for name in sorted(names):
                if not name.endswith(SOURCE_SUFFIXES):
                    continue
                file = os.path.join(directory, name)
                with open(file, encoding="utf-8", errors="replace") as text:
                    for number, line in enumerate(text, 1):
                        match = INCLUDE.match(line)
                        if not match:
                            continue
                        target = folder_of(root, directory, match.group(1), match.group(2))
                        if target is None or target == folder:
                            continue
                        includes += 1
                        where = f"{os.path.relpath(file)}:{number}: includes {match.group(2)}"
                        if target not in FLOOR_OF:
                            continue  # the folder itself is reported above
                        if FLOOR_OF[target] > FLOOR_OF[folder]:
                            faults.append(f"{where}: {target}/ stands above {folder}/")
                        elif FLOOR_OF[target] == FLOOR_OF[folder]:
                            faults.append(f"{where}: {target}/ stands beside {folder}/ on its floor")
    return faults, includes


def main():
    root = sys.argv[1] if len(sys.argv) > 1 else os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "src")
    root = os.path.normpath(root)
    faults, includes = check(root)
    for fault in faults:
        print(fault)
    if faults:
        print(f"layers: {len(faults)} include(s) against the floors")
        return 1
    print(f"layers: {includes} includes between folders, every one downward")
    return 0


if __name__ == "__main__":
    sys.exit(main())
