#!/usr/bin/env python3
"""Checks the project's #include lines against its layering.

1. Within cg/, a file includes only headers of its own stage or of earlier
   ones: shared words < types, ir < front < builtins < sema < lower, interp
   < opt, arb < compiler < runtime, tool.
2. No include cycle joins two folders, except heat/ <-> app/, which the
   program's global state (app's globals, read by heat's passes) implies.
   cg/'s top-level files count as the stage they belong to.

Prints each fault as "file: message" and exits 1 if there is one.
Usage: check_includes.py [SOURCE_DIR]
"""
import os
import re
import sys

ROOTS = ["app", "heat", "fbo", "cg", "tests", "bench", "fuzz"]
EXTENSIONS = (".h", ".cpp", ".hpp", ".cc")

# cg/'s stages, earliest first. A folder or top-level file not listed is a
# fault, so a new one must be placed.
STAGES = [
    ("shared words", ["cg/options.h", "cg/diag.h", "cg/diag.cpp", "cg/limits.h"]),
    ("types", ["cg/types/"]),
    ("ir", ["cg/ir/"]),
    ("front", ["cg/front/"]),
    ("builtins", ["cg/builtins/"]),
    ("sema", ["cg/sema/"]),
    ("lower", ["cg/lower/", "cg/interp/"]),
    ("passes and back end", ["cg/opt/", "cg/arb/"]),
    ("compiler", ["cg/compiler.h", "cg/compiler.cpp", "cg/pipeline.h"]),
    ("runtime and tools", ["cg/runtime.cpp", "cg/cg.h", "cg/cgGL.h", "cg/assembly.h", "cg/assembly.cpp",
                           "cg/tool/"]),
]
ALLOWED_CYCLES = [{"app", "heat"}]

INCLUDE = re.compile(r'^\s*#\s*include\s+"([^"]+)"')


def stage_of(path):
    for rank, (name, members) in enumerate(STAGES):
        for m in members:
            if path == m or (m.endswith("/") and path.startswith(m)):
                return rank, name
    return None


def folder_of(path):
    """The node a file belongs to in the folder graph."""
    if path.startswith("cg/"):
        if path.count("/") == 1:
            s = stage_of(path)
            return "cg (%s)" % (s[1] if s else "?")
        return os.path.dirname(path)
    return os.path.dirname(path)


def sources(root):
    for top in ROOTS:
        for dirpath, dirnames, filenames in os.walk(os.path.join(root, top)):
            dirnames[:] = sorted(d for d in dirnames if d != "corpus")
            for f in sorted(filenames):
                if f.endswith(EXTENSIONS):
                    yield os.path.relpath(os.path.join(dirpath, f), root)


def includes(root, path):
    """Project files that `path` includes, resolved beside it or from the root."""
    out = []
    with open(os.path.join(root, path), encoding="utf-8", errors="replace") as f:
        for line in f:
            m = INCLUDE.match(line)
            if not m:
                continue
            name = m.group(1)
            for candidate in (os.path.normpath(os.path.join(os.path.dirname(path), name)), name):
                if os.path.isfile(os.path.join(root, candidate)):
                    out.append(candidate)
                    break
    return out


def cycles(edges):
    """Strongly connected components of more than one node (Tarjan)."""
    index, low, stack, on, found = {}, {}, [], set(), []
    counter = [0]

    def visit(v):
        index[v] = low[v] = counter[0]
        counter[0] += 1
        stack.append(v)
        on.add(v)
        for w in sorted(edges.get(v, ())):
            if w not in index:
                visit(w)
                low[v] = min(low[v], low[w])
            elif w in on:
                low[v] = min(low[v], index[w])
        if low[v] == index[v]:
            component = set()
            while True:
                w = stack.pop()
                on.discard(w)
                component.add(w)
                if w == v:
                    break
            if len(component) > 1:
                found.append(component)

    sys.setrecursionlimit(10000)
    for v in sorted(edges):
        if v not in index:
            visit(v)
    return found


def main():
    root = os.path.abspath(sys.argv[1] if len(sys.argv) > 1 else os.path.join(os.path.dirname(__file__), ".."))
    faults = []
    edges = {}
    witness = {}
    for path in sources(root):
        mine = stage_of(path) if path.startswith("cg/") else None
        if path.startswith("cg/") and mine is None:
            faults.append("%s: not in any stage of the compiler's layering (place it in scripts/check_includes.py)" % path)
        for inc in includes(root, path):
            theirs = stage_of(inc) if inc.startswith("cg/") else None
            if mine and theirs and theirs[0] > mine[0]:
                faults.append("%s: includes %s, of a later stage (%s includes %s)" % (path, inc, mine[1], theirs[1]))
            a, b = folder_of(path), folder_of(inc)
            if a != b:
                edges.setdefault(a, set()).add(b)
                witness.setdefault((a, b), "%s -> %s" % (path, inc))
    for component in cycles(edges):
        if component in ALLOWED_CYCLES:
            continue
        links = [witness[(a, b)] for a in sorted(component) for b in sorted(edges.get(a, ()))
                 if b in component]
        faults.append("include cycle joins %s: %s" % (", ".join(sorted(component)), "; ".join(links)))
    for f in faults:
        print(f)
    return 1 if faults else 0


if __name__ == "__main__":
    sys.exit(main())
