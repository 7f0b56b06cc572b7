#!/usr/bin/env python3
"""Fails when a source file under src/ includes a header from a layer above its own.

A layer is a folder src/<name> whose CMakeLists.txt builds the library sondrel_<name>. A file in src/<name> may
include headers from its own folder and from the folders whose libraries sondrel_<name> links, directly or through
another layer; any other "<layer>/..." include points up or sideways and is reported with its file and line. The
link graph itself must have no cycle, so that the layers have a top and a bottom. Files directly in src/ (main.cpp)
sit above every layer.

Usage: check-layering.py [SRC_DIR]          check SRC_DIR (default: the src/ beside this script)
       check-layering.py --self-test SRC_DIR  plant upward includes and a link cycle in copies of SRC_DIR and
                                              make sure each one is reported
"""

import pathlib
import re
import shutil
import sys
import tempfile

LIBRARY = re.compile(r"sondrel_library\(\s*sondrel_(\w+)")
LINKS = re.compile(r"target_link_libraries\(\s*sondrel_(\w+)([^)]*)\)")
LINKED = re.compile(r"\bsondrel_(\w+)")
INCLUDE = re.compile(r'^\s*#\s*include\s*["<]([^">]+)[">]')


def link_graph(src):
    """Maps each layer to the layers its library links directly."""
    graph = {}
    for cmake in sorted(src.glob("*/CMakeLists.txt")):
        text = cmake.read_text(encoding="utf-8")
        library = LIBRARY.search(text)
        if library is None or library.group(1) != cmake.parent.name:
            continue
        graph.setdefault(library.group(1), set())
        for target, arguments in LINKS.findall(text):
            if target == library.group(1):
                graph[target].update(LINKED.findall(arguments))
    return graph


def below(graph):
    """Maps each layer to every layer it reaches through links; a layer that reaches itself is on a cycle."""
    reach = {}
    for layer in graph:
        seen, todo = set(), list(graph[layer])
        while todo:
            other = todo.pop()
            if other in graph and other not in seen:
                seen.add(other)
                todo.extend(graph[other])
        reach[layer] = seen
    return reach


def included_layer(source, include, src, layers):
    """The layer an include names: "<layer>/..." or a relative path that leads into a layer's folder."""
    first = include.split("/", 1)[0]
    if first in layers and "/" in include:
        return first
    if include.startswith("."):
        target = (source.parent / include).resolve()
        try:
            first = target.relative_to(src.resolve()).parts[0]
        except (ValueError, IndexError):
            return None
        return first if first in layers else None
    return None


def check(src):
    """Prints every problem found in src and returns how many there were."""
    src = pathlib.Path(src)
    graph = link_graph(src)
    if not graph:
        print(f"{src}: no layer found (no src/<name>/CMakeLists.txt building sondrel_<name>)")
        return 1
    reach = below(graph)
    problems = 0
    for layer in sorted(graph):
        if layer in reach[layer]:
            print(f"{src / layer / 'CMakeLists.txt'}: sondrel_{layer} links, through its dependencies, back to "
                  "itself: the layers have no order")
            problems += 1
    for source in sorted(src.rglob("*")):
        if source.suffix not in (".h", ".cpp") or not source.is_file():
            continue
        relative = source.relative_to(src)
        layer = relative.parts[0] if len(relative.parts) > 1 else None
        if layer is not None and layer not in graph:
            continue
        allowed = {layer} | reach[layer] if layer is not None else set(graph)
        for number, line in enumerate(source.read_text(encoding="utf-8", errors="replace").splitlines(), 1):
            match = INCLUDE.match(line)
            if match is None:
                continue
            target = included_layer(source, match.group(1), src, graph)
            if target is not None and target not in allowed:
                print(f'{source}:{number}: {layer} includes "{match.group(1)}" from {target}, which is not below '
                      f"it (a file in src/{layer} may include from: {', '.join(sorted(allowed))})")
                problems += 1
    return problems


def self_test(src):
    """Plants faults in copies of src; each must make the check fail and be named in its output."""
    import contextlib
    import io

    src = pathlib.Path(src)
    plants = [
        ("platform/Clock.h", '#include "app/MainWindow.h"', '/platform/Clock.h:{line}: platform includes "app/'),
        ("store/Paths.cpp", '#include "mail/SmtpSession.h"', '/store/Paths.cpp:{line}: store includes "mail/'),
        ("probe/PageCheck.cpp", '#include "../core/Monitor.h"', '/probe/PageCheck.cpp:{line}: probe includes "../'),
        ("platform/CMakeLists.txt", "target_link_libraries(sondrel_platform PUBLIC sondrel_app)",
         "sondrel_platform links, through its dependencies, back to itself"),
    ]
    failures = 0
    for path, planted, expected in plants:
        with tempfile.TemporaryDirectory() as work:
            copy = pathlib.Path(work) / "src"
            shutil.copytree(src, copy)
            target = copy / path
            lines = target.read_text(encoding="utf-8").splitlines()
            lines.append(planted)
            target.write_text("\n".join(lines) + "\n", encoding="utf-8")
            output = io.StringIO()
            with contextlib.redirect_stdout(output):
                problems = check(copy)
            expected = expected.format(line=len(lines))
            if problems == 0 or expected not in output.getvalue():
                print(f"self-test: {planted!r} planted in {path} was not reported as expected ({expected!r});")
                print(f"the check said: {output.getvalue().strip() or '(nothing)'}")
                failures += 1
            else:
                print(f"self-test: {planted!r} in {path} caught: {output.getvalue().strip()}")
    return failures


def main(arguments):
    if arguments[:1] == ["--self-test"] and len(arguments) == 2:
        return 1 if self_test(arguments[1]) else 0
    if len(arguments) > 1 or arguments[:1] == ["--self-test"]:
        print(__doc__.strip())
        return 2
    src = arguments[0] if arguments else pathlib.Path(__file__).resolve().parent.parent / "src"
    problems = check(src)
    if problems:
        print(f"{problems} layering problem(s): a file may include only its own folder's headers and those of the "
              "layers its library links")
        return 1
    print(f"{src}: every include points down the layers")
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
