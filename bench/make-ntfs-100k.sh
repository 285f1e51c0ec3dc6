#!/usr/bin/env bash
# Makes the benchmark volume once: a 1.5 GiB NTFS (mkntfs, written through ntfs-3g) with about
# 100,000 files in 100 folders of 1,000 (sizes 0 to 6,000 bytes, resident and not), and one
# 500 MiB file of pseudo-random data.
#
#   bench/make-ntfs-100k.sh OUTPUT.raw
set -euo pipefail
out=$1
[ -f "$out" ] && exit 0
work=$(mktemp -d)
trap 'fusermount -u "$work/mnt" 2>/dev/null || true; rm -rf "$work"' EXIT
truncate -s 1536M "$out.part"
mkntfs -q -F -f -L bench100k "$out.part" >/dev/null 2>&1
mkdir "$work/mnt"
ntfs-3g -o big_writes "$out.part" "$work/mnt"
python3 - "$work/mnt" <<'PY'
import os, sys, random
root = sys.argv[1]
rnd = random.Random(100000)
for d in range(100):
    folder = os.path.join(root, f"folder-{d:03d}")
    os.mkdir(folder)
    for f in range(1000):
        size = rnd.choice((0, 100, 700, 1500, 4096, 6000))
        with open(os.path.join(folder, f"file-{d:03d}-{f:04d}.dat"), "wb") as fh:
            fh.write(bytes([(d + f) & 0xFF]) * size)
PY
{ openssl enc -aes-128-ctr -pass pass:vindaru -nosalt -pbkdf2 </dev/zero 2>/dev/null || true; } |
    head -c $((500 << 20)) >"$work/mnt/big-500m.bin"
fusermount -u "$work/mnt"
mv "$out.part" "$out"
