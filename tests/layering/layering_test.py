#!/usr/bin/env python3
"""The code's includes against its link graph, read from the source tree itself.

- Every project header a library's or a program's source includes belongs to that target or to
  one it links, directly or through others: no include reaches past the link graph.
- A target that links no Qt, directly or through others, includes no Qt header.
- No two files include each other, however indirectly (a file here is a .h and its .cpp).
- An include names one file only: the include roots (the source folder, core/ and desktop/) hold
  no two files of the same name.

The targets and their links are read from the CMakeLists.txt files outside tests/ and bench/."""

import argparse
import os
import re
import sys

# Cycles allowed to stand; each entry is a set of files (without extension). None, now.
KNOWN_CYCLES = []

# Where "game/board.h" and "shell/mainform.h" are looked for: the source folder (server/, tests/)
# and the roots of the two sides of the Qt line.
ROOTS = (".", "core", "desktop")

SOURCE = re.compile(r"\.(h|cpp)$")
INCLUDE = re.compile(r'^\s*#\s*include\s+([<"])([^>"]+)[>"]', re.M)


def cmakefiles(root):
    for folder, dirs, files in os.walk(root):
        rel = os.path.relpath(folder, root)
        top = rel.split(os.sep)[0]
        dirs[:] = [d for d in dirs if not d.startswith((".", "build"))]
        if top in ("tests", "bench"):
            continue
        if "CMakeLists.txt" in files:
            yield folder


def calls(text, command):
    """The argument words of each call of a CMake command."""
    text = re.sub(r"#[^\n]*", "", text)
    for match in re.finditer(r"\b%s\s*\(([^)]*)\)" % command, text):
        yield match.group(1).split()


def readtargets(root):
    """{target: set of its source files}, {target: the names it links}."""
    sources, links = {}, {}
    for folder in cmakefiles(root):
        text = open(os.path.join(folder, "CMakeLists.txt"), encoding="utf-8").read()
        rel = os.path.relpath(folder, root)
        for command in ("add_library", "add_executable"):
            for words in calls(text, command):
                name, files = words[0], words[1:]
                owned = sources.setdefault(name, set())
                for word in files:
                    objects = re.fullmatch(r"\$<TARGET_OBJECTS:([\w-]+)>", word)
                    if objects:
                        links.setdefault(name, set()).add(objects.group(1))
                    elif SOURCE.search(word) and "$" not in word:
                        owned.add(os.path.normpath(os.path.join(rel, word)))
        for words in calls(text, "target_link_libraries"):
            names = [w for w in words[1:] if w not in ("PUBLIC", "PRIVATE", "INTERFACE")]
            links.setdefault(words[0], set()).update(names)
    return sources, links


def closure(target, links):
    seen, queue = set(), [target]
    while queue:
        name = queue.pop()
        if name in seen:
            continue
        seen.add(name)
        queue.extend(links.get(name, ()))
    return seen


def includes(root, path):
    text = open(os.path.join(root, path), encoding="utf-8", errors="replace").read()
    return [(kind == "<", name) for kind, name in INCLUDE.findall(text)]


def resolve(root, name):
    """The files an include may name, as paths from the source folder."""
    return [os.path.normpath(os.path.join(base, name)) for base in ROOTS
            if os.path.isfile(os.path.join(root, base, name))]


def cycles(graph):
    """The strongly connected sets of more than one file (Tarjan's algorithm)."""
    index, low, stack, onstack, found = {}, {}, [], set(), []
    counter = [0]

    def visit(node):
        index[node] = low[node] = counter[0]
        counter[0] += 1
        stack.append(node)
        onstack.add(node)
        for succ in graph.get(node, ()):
            if succ not in index:
                visit(succ)
                low[node] = min(low[node], low[succ])
            elif succ in onstack:
                low[node] = min(low[node], index[succ])
        if low[node] == index[node]:
            group = set()
            while True:
                member = stack.pop()
                onstack.discard(member)
                group.add(member)
                if member == node:
                    break
            if len(group) > 1:
                found.append(group)

    sys.setrecursionlimit(10000)
    for node in sorted(graph):
        if node not in index:
            visit(node)
    return found


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--source", required=True)
    root = parser.parse_args().source
    sources, links = readtargets(root)
    owner = {}
    for target, files in sources.items():
        for path in files:
            owner.setdefault(path, set()).add(target)

    problems = []
    ambiguous = set()

    def named(name):
        found = resolve(root, name)
        if len(found) > 1 and name not in ambiguous:
            ambiguous.add(name)
            problems.append("%s names more than one file: %s" % (name, " ".join(found)))
        return found[0] if found else None

    for target in sorted(sources):
        reach = closure(target, links)
        qt = any(name.startswith("Qt6::") for name in reach)
        for path in sorted(sources[target]):
            if not os.path.exists(os.path.join(root, path)):
                continue
            for system, name in includes(root, path):
                if system:
                    if not qt and re.match(r"Q[A-Za-z]", name):
                        problems.append("%s (%s, no Qt) includes <%s>" % (path, target, name))
                    continue
                name = named(name)
                if name is None:
                    continue
                holders = owner.get(name, set())
                if holders and not holders & reach:
                    problems.append("%s (%s) includes %s, which belongs to %s, not linked"
                                    % (path, target, name, " ".join(sorted(holders))))

    graph = {}
    for path in owner:
        if not os.path.exists(os.path.join(root, path)):
            continue
        unit = SOURCE.sub("", path)
        for system, name in includes(root, path):
            if system:
                continue
            name = named(name)
            if name is None:
                continue
            other = SOURCE.sub("", name)
            if other != unit and name in owner:
                graph.setdefault(unit, set()).add(other)
    for group in cycles(graph):
        if not any(known <= group and group <= known for known in KNOWN_CYCLES):
            problems.append("files that include each other: " + " ".join(sorted(group)))

    for problem in problems:
        print("FAIL: " + problem)
    counted = sum(len(files) for files in sources.values())
    print("%d targets, %d files read; %d problem(s)" % (len(sources), counted, len(problems)))
    return 1 if problems else 0


if __name__ == "__main__":
    sys.exit(main())
