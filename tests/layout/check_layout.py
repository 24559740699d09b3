#!/usr/bin/env python3
"""Holds the source tree to its shape: file and function sizes of src/ and tools/, which layer
includes which, and build files that list their sources. Prints every breach and exits 1 when there
is one."""

import pathlib
import re
import sys

MAX_FILE_LINES = 400
MAX_FUNCTION_LINES = 80

# What each room of src/ may include from the others (its own room always). The floors, from the
# ground: platform; device; engine beside platform-widgets and widgets (what several pages show);
# the pages (control, program, record), none of which includes another; app, the window over them;
# serve, the service's servers and bridges, beside the pages and under the command line.
PAGES = {"control", "program", "record"}
ALLOWED = {
    "platform": {"platform"},
    "device": {"platform", "device"},
    "engine": {"platform", "device", "engine"},
    "platform-widgets": {"platform", "platform-widgets"},
    "widgets": {"platform", "device", "widgets"},
    "control": {"platform", "widgets", "device", "engine", "control"},
    "program": {"platform", "widgets", "device", "engine", "program"},
    "record": {"platform", "widgets", "device", "engine", "record"},
    "app": {"platform", "platform-widgets", "widgets", "device", "engine", "app"} | PAGES,
    "serve": {"platform", "device", "engine", "serve"},
    "cli": {"platform", "device", "engine", "serve", "cli"},
}
# What each program of tools/ may include from src/: the simulator is a unit on the far side of
# the wire and needs the device library alone; the screenshot tour walks the real window.
TOOLS_ALLOWED = {
    "sim": {"platform", "device", "engine"},
    "screenshots": {"platform", "device", "engine"} | {"platform-widgets", "widgets", "app"} | PAGES,
}
# The link's inside is the device library's inside: it never includes the library's face.
LINK_INSIDE = "device/link/"
LIBRARY_FACE = ("device/pslink.h", "device/LinkSettings.h")
# The dialog layer: only the pages show dialogs.
DIALOGS = ("platform/Dialogs.h", "platform/widgets/")
NO_DIALOGS = {"device", "engine", "serve", "cli"}
# Front ends reach the engine through this header alone.
ENGINE_FACE = "engine/RunEngine.h"

INCLUDE = re.compile(r'^\s*#\s*include\s+"([^"]+)"')
SIGNATURE_END = re.compile(r"[;{}]\s*$")


def room_of_include(target):
    """The room of src/ an include names ("platform/widgets/X.h" is platform-widgets)."""
    if target.startswith("platform/widgets/"):
        return "platform-widgets"
    return target.split("/")[0]


def check_sizes(rel, lines, breaches):
    if len(lines) > MAX_FILE_LINES:
        breaches.append(f"{rel}: {len(lines)} lines (at most {MAX_FILE_LINES})")
    for line_no, size, head in long_functions(lines):
        breaches.append(f"{rel}:{line_no}: a function of {size} lines (at most {MAX_FUNCTION_LINES}): {head}")


def read_lines(path):
    lines = path.read_text(encoding="utf-8").split("\n")
    if lines and lines[-1] == "":
        lines.pop()
    return lines


def includes(lines):
    """(line number, target) of every include of a file of the tree (a path with a folder)."""
    for line_no, line in enumerate(lines, 1):
        match = INCLUDE.match(line)
        if match and "/" in match.group(1):
            yield line_no, match.group(1)


def check_engine_face(rel, room, line_no, target, breaches):
    if room != "engine" and room_of_include(target) == "engine" and target != ENGINE_FACE:
        breaches.append(f"{rel}:{line_no}: {target} is the engine's inside; include {ENGINE_FACE}")


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
        lines = read_lines(path)
        check_sizes(rel, lines, breaches)
        room = room_of_include(str(path.relative_to(src)))
        inside_link = str(path.relative_to(src)).startswith(LINK_INSIDE)
        for line_no, target in includes(lines):
            other = room_of_include(target)
            if room in ALLOWED and other not in ALLOWED[room]:
                breaches.append(f"{rel}:{line_no}: the {room} layer includes {target}")
            if room in NO_DIALOGS and target.startswith(DIALOGS):
                breaches.append(f"{rel}:{line_no}: the {room} layer includes the dialog layer ({target})")
            if inside_link and target in LIBRARY_FACE:
                breaches.append(f"{rel}:{line_no}: the link's inside includes the library's face ({target})")
            check_engine_face(rel, room, line_no, target, breaches)


def check_tools(root, breaches):
    tools = root / "tools"
    for path in sorted(tools.rglob("*")):
        if path.suffix not in (".h", ".cpp"):
            continue
        rel = path.relative_to(root)
        lines = read_lines(path)
        check_sizes(rel, lines, breaches)
        tool = path.relative_to(tools).parts[0]
        allowed = TOOLS_ALLOWED.get(tool)
        if allowed is None:
            breaches.append(f"{rel}: a program of tools/ the layout does not know; add it to TOOLS_ALLOWED")
            continue
        for line_no, target in includes(lines):
            if room_of_include(target) not in allowed:
                breaches.append(f"{rel}:{line_no}: tools/{tool} includes {target}")
            check_engine_face(rel, "tools", line_no, target, breaches)


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
