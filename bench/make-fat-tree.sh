#!/usr/bin/env bash
# The file tree the FAT benchmarks copy onto their volumes, made once in $VINDARU_BENCH_DIR
# (default /tmp/vindaru-bench): 100 folders of 200 files, 1 to 4 KiB each, and a 200 MiB file.
# Prints the tree's folder.
set -euo pipefail
dir=${VINDARU_BENCH_DIR:-/tmp/vindaru-bench}
tree="$dir/fat-tree"
mkdir -p "$dir"
if [ ! -f "$tree/.done" ]; then
    rm -rf "$tree"; mkdir -p "$tree"
    python3 - "$tree" <<'PY'
import os, sys, random
root = sys.argv[1]
r = random.Random(20000)
for d in range(100):
    p = os.path.join(root, f"folder-{d:03d}")
    os.mkdir(p)
    for f in range(200):
        with open(os.path.join(p, f"file-{d:03d}-{f:03d}.dat"), "wb") as out:
            out.write(r.randbytes(r.randint(1024, 4096)))
with open(os.path.join(root, "big-200m.bin"), "wb") as out:
    for _ in range(200):
        out.write(r.randbytes(1 << 20))
PY
    touch "$tree/.done"
fi
echo "$tree"
