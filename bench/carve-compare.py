#!/usr/bin/env python3
"""How many placed files each carver gave back byte for byte, and what it wrote.

    carve-compare.py LAYOUT NAME=DIR...

LAYOUT has one line per placed file: offset size md5 kind state, where state is whole,
fragmented or truncated (a fragmented file's offset is that of its first piece). Each DIR is a
carver's output folder, searched recursively; a saved file belongs to the placed file at the
volume position its name starts with: vindaru names finds by byte offset ("1048576.jpg"),
PhotoRec ("f0002048.jpg") and foremost ("00002048.jpg") by 512-byte sector, told apart by NAME.
"""
import hashlib
import os
import re
import sys


def md5_of(path):
    h = hashlib.md5()
    with open(path, "rb") as f:
        for block in iter(lambda: f.read(1 << 20), b""):
            h.update(block)
    return h.hexdigest()


def main():
    layout = [line.split() for line in open(sys.argv[1]) if line.strip()]
    placed = {int(o): (int(n), m, k, s) for o, n, m, k, s in layout}
    whole_total = sum(n for n, _, _, s in placed.values() if s == "whole")
    placed_total = sum(n for n, _, _, _ in placed.values())
    print("placed: %d files (%d whole, %d fragmented, %d truncated), whole files %.1f MiB" % (
        len(placed), sum(1 for v in placed.values() if v[3] == "whole"),
        sum(1 for v in placed.values() if v[3] == "fragmented"),
        sum(1 for v in placed.values() if v[3] == "truncated"), whole_total / 2**20))
    for arg in sys.argv[2:]:
        name, folder = arg.split("=", 1)
        per_sector = name != "vindaru"
        exact = 0
        exact_kinds = {}
        written = 0
        written_whole = 0
        files = 0
        matched = set()
        for root, _, names in os.walk(folder):
            for n in names:
                if n.endswith((".log", ".txt")) and not re.match(r"^f?\d", n):
                    continue
                m = re.match(r"^f?(\d+)", n)
                if not m:
                    continue
                path = os.path.join(root, n)
                size = os.path.getsize(path)
                files += 1
                written += size
                offset = int(m.group(1)) * (512 if per_sector else 1)
                p = placed.get(offset)
                if p is None:
                    continue
                if p[3] == "whole":
                    written_whole += size
                if p[3] == "whole" and size == p[0] and offset not in matched and md5_of(path) == p[1]:
                    matched.add(offset)
                    exact += 1
                    exact_kinds[p[2]] = exact_kinds.get(p[2], 0) + 1
        missed = {}
        for o, (n, m, k, s) in placed.items():
            if s == "whole" and o not in matched:
                missed[k] = missed.get(k, 0) + 1
        print("%-8s byte-exact %4d of %d whole files; %5d files written, %8.1f MiB (%.3f x all placed "
              "bytes; those at whole files' offsets %.4f x the whole files' bytes)%s" % (
                  name, exact, sum(1 for v in placed.values() if v[3] == "whole"), files,
                  written / 2**20, written / max(placed_total, 1), written_whole / max(whole_total, 1),
                  ("; missed " + ", ".join("%s %d" % kv for kv in sorted(missed.items()))) if missed else ""))


if __name__ == "__main__":
    main()
