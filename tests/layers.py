#!/usr/bin/env python3
"""Fails when a source file includes a header from a layer above its own.

The layers, lowest first; a file may include headers of its own layer and of
the layers listed before it. docs/architecture.md explains each one.
"""
import re
import sys
from pathlib import Path

LAYERS = [
    "runtime/platform",
    "runtime/core",
    "runtime/services",
    "runtime/collector",
    "runtime/datatypes",
    "runtime/lexer",
    "runtime/interpreter",
    "runtime/parse",
    "runtime/io",
    "runtime/kembin",
    "console",
    "view",
    "environment",
]

INCLUDE = re.compile(r'^\s*#\s*include\s+"([^"]+)"')
SOURCES = (".h", ".cpp", ".def", ".inc")


def layer_of(path):
    """The rank of the layer a repository path belongs to, or None outside them."""
    for rank, prefix in enumerate(LAYERS):
        if path == prefix or path.startswith(prefix + "/"):
            return rank
    if path.startswith("runtime/"):
        return -1  # a runtime file outside every layer folder
    return None


def check(root):
    faults = []
    for file in sorted(root.rglob("*")):
        if file.suffix not in SOURCES or not file.is_file():
            continue
        rel = file.relative_to(root).as_posix()
        own = layer_of(rel)
        if own is None:
            continue
        if own < 0:
            faults.append(f"{rel}: not in a layer folder")
            continue
        for number, line in enumerate(file.read_text(encoding="utf-8").splitlines(), 1):
            m = INCLUDE.match(line)
            if not m:
                continue
            target = m.group(1)
            if "/" not in target:
                target = (file.parent / target).relative_to(root).as_posix()
            rank = layer_of(target)
            if rank is not None and rank > own:
                faults.append(f"{rel}:{number}: includes {m.group(1)} from {LAYERS[rank]}, above {LAYERS[own]}")
    return faults


def main():
    root = Path(sys.argv[1] if len(sys.argv) > 1 else Path(__file__).resolve().parent.parent)
    faults = check(root)
    for f in faults:
        print(f)
    if faults:
        print(f"{len(faults)} include(s) point up a layer")
        return 1
    return 0


if __name__ == "__main__":
    sys.exit(main())
