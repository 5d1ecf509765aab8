#!/usr/bin/env python3
"""Checks that the source folders' includes follow the layers.

The production folders are layers, and a file may include its own folder
and the layers below it, never one above or beside it. Test support lives in
testkit/: tests may include it, the program and the publisher's tool may
not. Only quoted project includes ("dir/name.h") are looked at.

Usage: check-layers.py [source directory]   (default: the parent of scripts/)
Prints each offending file:line with the rule it breaks; exit 1 when there
is one, 0 otherwise.
"""

import os
import re
import sys

# Rank of each production folder: an include must go to a lower rank or to
# the including file's own folder. updater/ and tools/ stand side by side.
LAYERS = {"base": 0, "fileutil": 1, "archive": 2, "pack": 3, "updater": 4, "tools": 4}
# Folders that hold only tests and what they need; they stand above every
# layer.
TEST_FOLDERS = {"testkit", "bench", "robustness", "sample"}
# Below a layer folder, these sub-folders hold tests too.
TEST_SUBFOLDERS = {"fuzz", "bench"}
SOURCE_SUFFIXES = (".c", ".cc", ".cpp", ".h", ".hpp", ".rc")
INCLUDE = re.compile(r'^\s*#\s*include\s*("([^"/]+)/[^"]*")')


def is_source(name):
    if name.endswith(".in"):
        name = name[: -len(".in")]
    return name.endswith(SOURCE_SUFFIXES)


def classify(parts):
    """(rank, folder its rank is taken from, is a test file) for a path."""
    top = parts[0]
    if top in TEST_FOLDERS:
        # testkit/<layer>/ serves that layer's tests and stands where it does.
        if top == "testkit" and len(parts) > 2 and parts[1] in LAYERS:
            return LAYERS[parts[1]], parts[1], True
        return len(LAYERS), None, True
    is_test = parts[-1].endswith("_test.cpp") or any(p in TEST_SUBFOLDERS for p in parts[1:-1])
    return LAYERS[top], top, is_test


def check_file(root, parts, rank, own, is_test, problems):
    path = "/".join(parts)
    with open(os.path.join(root, *parts), encoding="utf-8", errors="replace") as source:
        for number, line in enumerate(source, 1):
            match = INCLUDE.match(line)
            if not match:
                continue
            target = match.group(2)
            where = f"{path}:{number}: includes {match.group(1)}"
            if target in TEST_FOLDERS:
                if not is_test:
                    problems.append(
                        f"{where}: production code may not include {target}/ (tests only)")
            elif target in LAYERS:
                if target != own and LAYERS[target] >= rank:
                    side = "beside" if LAYERS[target] == rank else "above"
                    problems.append(
                        f"{where}: {target}/ stands {side} {own}/; includes run only downward")


def main():
    here = os.path.dirname(os.path.abspath(__file__))
    root = sys.argv[1] if len(sys.argv) > 1 else os.path.dirname(here)
    problems = []
    checked = 0
    for top in sorted(os.listdir(root)):
        # Build trees (build/<preset>) and hidden folders hold no sources.
        if top == "build" or top.startswith(".") or not os.path.isdir(os.path.join(root, top)):
            continue
        for directory, subdirectories, files in os.walk(os.path.join(root, top)):
            subdirectories.sort()
            for name in sorted(files):
                if not is_source(name):
                    continue
                parts = os.path.relpath(os.path.join(directory, name), root).split(os.sep)
                if top not in LAYERS and top not in TEST_FOLDERS:
                    problems.append(
                        f"{'/'.join(parts)}: source file in {top}/, a folder with no layer")
                    continue
                rank, own, is_test = classify(parts)
                check_file(root, parts, rank, own, is_test, problems)
                checked += 1
    for problem in problems:
        print(problem)
    if problems:
        print(f"check-layers: {len(problems)} include(s) break the layers", file=sys.stderr)
        return 1
    print(f"check-layers: {checked} files, every include runs downward")
    return 0


if __name__ == "__main__":
    sys.exit(main())
