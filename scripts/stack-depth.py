#!/usr/bin/env python3
"""Deepest stack path from a root function, from GCC -fcallgraph-info=su files.

usage: stack-depth.py ROOT FILE.ci...

Each node of the .ci (VCG) graphs carries the function's frame size
("N bytes (static)" / "dynamic,bounded"); edges are calls. Functions outside
the given files (the C library) count as 0. Recursion is reported and cut.
"""
import re
import subprocess
import sys

node_re = re.compile(r'node: \{ title: "([^"]+)" label: "([^"]*)"')
edge_re = re.compile(r'edge: \{ sourcename: "([^"]+)" targetname: "([^"]+)"')
size_re = re.compile(r'\\n(\d+) bytes \(([a-z, ]+)\)')


def main():
    root = sys.argv[1]
    frames, labels, calls = {}, {}, {}
    for path in sys.argv[2:]:
        with open(path) as f:
            text = f.read()
        for title, label in node_re.findall(text):
            m = size_re.search(label)
            name = label.split("\\n")[0]
            # GCC leaves some labels without a name (variadic functions) or
            # with only a clone's number ("0(...)" for a .part.0): take the
            # demangled title instead, without the source path of a local one.
            if len(name) < 3 or re.match(r"\d+\(", name):
                mangled = title.rsplit(":", 1)[-1]
                name = subprocess.run(["c++filt", mangled], capture_output=True,
                                      text=True).stdout.strip() or title
            labels[title] = name
            if m:
                frames[title] = (int(m.group(1)), m.group(2))
        for src, dst in edge_re.findall(text):
            calls.setdefault(src, set()).add(dst)
    roots = [t for t, n in labels.items() if n == root or t == root]
    if not roots:
        print(f"{root}: not found")
        return

    memo = {}

    def deepest(title, stack):
        if title in stack:
            return 0, [labels.get(title, title) + " (recursion)"]
        if title in memo:
            return memo[title]
        own = frames.get(title, (0, ""))[0]
        best, path = 0, []
        for callee in sorted(calls.get(title, ())):  # ties: the same path every run
            depth, sub = deepest(callee, stack | {title})
            if depth > best:
                best, path = depth, sub
        memo[title] = (own + best, [title] + path)
        return memo[title]

    total, path = deepest(roots[0], frozenset())
    print(f"worst path from {root}: {total} bytes")
    for title in path:
        size, kind = frames.get(title, (0, "outside the library"))
        print(f"  {size:6d}  {labels.get(title, title)}  [{kind}]")


if __name__ == "__main__":
    main()
