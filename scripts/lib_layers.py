#!/usr/bin/env python3
"""Checks that the library's source files call one another in layers.

    python3 scripts/lib_layers.py [LIBRARY]

Reads `nm` of every member of libkeltools.a (default: the one in build/), links each undefined symbol to the file that defines it, prints
each file with the files it calls, bottom layer first, and exits 1 when
two or more files call one another in a circle.  Inline and template code
(weak symbols) belongs to no file and makes no edge.
"""
import subprocess
import sys


def members(library):
    """Each member file's defined and undefined symbols, by module name."""
    table, current = {}, None
    out = subprocess.run(["nm", library], capture_output=True, text=True, check=True).stdout
    for line in out.splitlines():
        parts = line.split()
        if line.endswith(":") and len(parts) == 1:
            current = table.setdefault(line[:-1].split(".")[0], (set(), set()))
        elif len(parts) == 2 and parts[0] == "U":
            current[1].add(parts[1])
        elif len(parts) == 3 and parts[1] in "TDBR":
            current[0].add(parts[2])
    return table


def calls(table):
    owner = {sym: m for m, (defined, _) in table.items() for sym in defined}
    return {m: sorted({owner[s] for s in undefined if s in owner} - {m}) for m, (_, undefined) in table.items()}


def layers(graph):
    """Each file's layer: 0 when it calls no other file, else one above the
    highest it calls.  None when the files form a circle."""
    level, pending = {}, dict(graph)
    while pending:
        ready = [m for m, deps in pending.items() if all(d in level for d in deps)]
        if not ready:
            return None, sorted(pending)
        for m in ready:
            level[m] = 1 + max((level[d] for d in pending[m]), default=-1)
            del pending[m]
    return level, []


def main():
    library = sys.argv[1] if len(sys.argv) > 1 else "build/keltools/libkeltools.a"
    graph = calls(members(library))
    level, circle = layers(graph)
    if level is None:
        print("circle among: " + " ".join(circle))
        for m in circle:
            print("  %s -> %s" % (m, " ".join(d for d in graph[m] if d in circle)))
        return 1
    for m in sorted(graph, key=lambda m: (level[m], m)):
        print("%d %-12s -> %s" % (level[m], m, " ".join(graph[m]) or "-"))
    return 0


if __name__ == "__main__":
    sys.exit(main())
