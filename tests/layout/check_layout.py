#!/usr/bin/env python3
"""Holds the source tree to its shape: file and function sizes, which layer includes which, and
build files that list their sources. Prints every breach and exits 1 when there is one."""

import pathlib
import re
import sys

MAX_FILE_LINES = 400
MAX_FUNCTION_LINES = 80

# What each room of src/ may include from the others (its own room always).
ALLOWED = {
    "platform": {"platform"},
    "device": {"platform", "device"},
    "engine": {"platform", "device", "engine"},
    "widgets": {"platform", "widgets"},
    "control": {"platform", "widgets", "device", "engine", "control", "record", "app"},
    "program": {"platform", "widgets", "device", "engine", "program", "control", "app"},
    "record": {"platform", "widgets", "device", "engine", "record", "app"},
    "app": {"platform", "widgets", "device", "engine", "control", "program", "record", "app"},
    "cli": {"platform", "device", "engine", "cli"},
}
# The dialog layer: only the pages show dialogs.
DIALOGS = ("platform/Dialogs.h", "platform/widgets/")
NO_DIALOGS = {"device", "engine", "cli"}
# Front ends reach the engine through this header alone.
ENGINE_FACE = "engine/RunEngine.h"

INCLUDE = re.compile(r'^\s*#\s*include\s+"([^"]+)"')
SIGNATURE_END = re.compile(r"[;{}]\s*$")


def room_of(path, src):
    rel = path.relative_to(src)
    if rel.parts[0] == "platform" and len(rel.parts) > 1 and rel.parts[1] == "widgets":
        return "widgets"
    return rel.parts[0]


def long_functions(lines):
    """Top-level function bodies: a "{" alone at column 0 after a signature, to its "}"."""
    found = []
    for i, line in enumerate(lines):
        if line.rstrip() != "{" or i == 0:
            continue
        start = i - 1
        while start > 0 and lines[start - 1].strip() and not SIGNATURE_END.search(lines[start - 1]) \
                and not lines[start - 1].lstrip().startswith(("//", "#")):
            start -= 1
        head = lines[start].lstrip()
        if head.startswith(("class ", "struct ", "enum ", "union ", "namespace ")) or "=" in lines[i - 1]:
            continue
        end = next((j for j in range(i + 1, len(lines)) if lines[j].rstrip() == "}"), len(lines) - 1)
        size = end - start + 1
        if size > MAX_FUNCTION_LINES:
            found.append((start + 1, size, lines[start].strip()))
    return found


def check_sources(root, breaches):
    src = root / "src"
    for path in sorted(src.rglob("*")):
        if path.suffix not in (".h", ".cpp"):
            continue
        rel = path.relative_to(root)
        lines = path.read_text(encoding="utf-8").split("\n")
        if lines and lines[-1] == "":
            lines.pop()
        if len(lines) > MAX_FILE_LINES:
            breaches.append(f"{rel}: {len(lines)} lines (at most {MAX_FILE_LINES})")
        for line_no, size, head in long_functions(lines):
            breaches.append(f"{rel}:{line_no}: a function of {size} lines (at most {MAX_FUNCTION_LINES}): {head}")
        room = room_of(path, src)
        for line_no, line in enumerate(lines, 1):
            match = INCLUDE.match(line)
            if not match or "/" not in match.group(1):
                continue
            target = match.group(1)
            other = "widgets" if target.startswith("platform/widgets/") else target.split("/")[0]
            if room in ALLOWED and other not in ALLOWED[room] and other != room:
                breaches.append(f"{rel}:{line_no}: the {room} layer includes {target}")
            if room in NO_DIALOGS and target.startswith(DIALOGS):
                breaches.append(f"{rel}:{line_no}: the {room} layer includes the dialog layer ({target})")
            if room != "engine" and other == "engine" and target != ENGINE_FACE:
                breaches.append(f"{rel}:{line_no}: {target} is the engine's inside; include {ENGINE_FACE}")


def check_tools(root, breaches):
    for path in sorted((root / "tools").rglob("*")):
        if path.suffix not in (".h", ".cpp"):
            continue
        for line_no, line in enumerate(path.read_text(encoding="utf-8").split("\n"), 1):
            match = INCLUDE.match(line)
            if match and match.group(1).startswith("engine/") and match.group(1) != ENGINE_FACE:
                breaches.append(f"{path.relative_to(root)}:{line_no}: include {ENGINE_FACE}, not {match.group(1)}")


def check_build_files(root, breaches):
    for path in sorted(root.rglob("CMakeLists.txt")):
        rel = path.relative_to(root)
        if rel.parts[0] == "build":
            continue
        for line_no, line in enumerate(path.read_text(encoding="utf-8").split("\n"), 1):
            if re.search(r"\bfile\s*\(\s*GLOB", line):
                breaches.append(f"{rel}:{line_no}: a glob; list the sources")


def main():
    root = pathlib.Path(sys.argv[1] if len(sys.argv) > 1 else ".").resolve()
    breaches = []
    check_sources(root, breaches)
    check_tools(root, breaches)
    check_build_files(root, breaches)
    for breach in breaches:
        print(breach)
    return 1 if breaches else 0


if __name__ == "__main__":
    sys.exit(main())
