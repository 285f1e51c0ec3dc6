#!/usr/bin/env bash
# Deleted files on an ext4 volume written and deleted through the kernel, recovered by
# `vindaru-cli save` and by ext4magic (-r, the journal-based recovery of every deleted file) in
# one run: how many deleted files each gives back byte-exact (by md5 against the files written),
# how many at their own path, and the time each takes.
#
# The volume (256 MiB, 4 KiB blocks, default features) is mounted through a loop device, filled
# with 12 folders of files from 1 KiB to 1 MiB, synced, then a third of the files and two whole
# folders are removed, a few new files are written over part of the freed space, and it is
# unmounted. Needs root, loop devices and ext4magic (apt-get install ext4magic).
#
#   bench/ext4-deleted-recovery.sh [BUILD_DIR]        (default: build)
set -euo pipefail

build=${1:-build}
cli="$(realpath "$build")/vindaru-cli"
[ -x "$cli" ] || { echo "build vindaru-cli first ($cli)" >&2; exit 1; }
command -v ext4magic >/dev/null || { echo "ext4magic is needed (apt-get install ext4magic)" >&2; exit 1; }
source "$(dirname "$0")/bench-common.sh"

work=$(mktemp -d "${VINDARU_BENCH_DIR:-/tmp}/ext4-deleted.XXXXXX")
trap 'umount "$work/mnt" 2>/dev/null || true; [[ ${BENCH_KEEP:-0} == 1 ]] || rm -rf "$work"' EXIT
image="$work/volume.raw"
mkdir -p "$work/mnt"
truncate -s 256M "$image"
mkfs.ext4 -q -F -b 4096 "$image"
mount -o loop "$image" "$work/mnt"

python3 - "$work/mnt" "$work/written.tsv" "$work/deleted.txt" <<'PY'
import hashlib, os, random, sys
root, written, deleted = sys.argv[1:4]
rnd = random.Random(28)
rows = []
for d in range(12):
    folder = os.path.join(root, f"folder-{d:02d}")
    os.makedirs(folder)
    for f in range(40):
        size = rnd.choice((1024, 7000, 40000, 300000, 1 << 20)) + rnd.randrange(4096)
        data = rnd.randbytes(size)
        path = os.path.join(folder, f"file-{d:02d}-{f:02d}.bin")
        with open(path, "wb") as fh:
            fh.write(data)
        rows.append((path[len(root):], hashlib.md5(data).hexdigest()))
with open(written, "w") as fh:
    for path, md5 in rows:
        fh.write(f"{path}\t{md5}\n")
os.sync()
gone = [p for p, _ in rows if p.startswith(("/folder-10/", "/folder-11/")) or rnd.random() < 1 / 3]
for p in gone:
    os.remove(root + p)
os.rmdir(os.path.join(root, "folder-10"))
os.rmdir(os.path.join(root, "folder-11"))
with open(deleted, "w") as fh:
    fh.write("\n".join(gone) + "\n")
os.sync()
# New files over part of the freed space: some deleted files cannot come back whole.
for n in range(6):
    with open(os.path.join(root, f"later-{n}.bin"), "wb") as fh:
        fh.write(rnd.randbytes(2 << 20))
PY
umount "$work/mnt"

t0=$(now)
"$cli" save "$image" --volume 0 --out "$work/vindaru" --manifest "$work/manifest.json" >/dev/null 2>&1 || true
t1=$(now)
(cd "$work" && ext4magic "$image" -r -d "$work/ext4magic" >/dev/null 2>&1) || true
t2=$(now)

python3 - "$work" <<'PY'
import hashlib, json, os, sys
work = sys.argv[1]
written = dict(line.rstrip("\n").split("\t") for line in open(os.path.join(work, "written.tsv")))
deleted = [line.strip() for line in open(os.path.join(work, "deleted.txt")) if line.strip()]

def tree_md5s(root):
    found = {}
    for folder, _, files in os.walk(root):
        for name in files:
            full = os.path.join(folder, name)
            if os.path.islink(full):
                continue
            with open(full, "rb") as fh:
                found.setdefault(hashlib.md5(fh.read()).hexdigest(), set()).add(full[len(root):])
    return found

def score(root, strip=""):
    md5s = tree_md5s(root)
    exact = sum(1 for p in deleted if written[p] in md5s)
    placed = sum(1 for p in deleted if written[p] in md5s and any(q.endswith(p) for q in md5s[written[p]]))
    return exact, placed

v = score(os.path.join(work, "vindaru"))
e = score(os.path.join(work, "ext4magic"))
print(f"deleted files: {len(deleted)} (of {len(written)} written)")
print(f"vindaru:   {v[0]} byte-exact, {v[1]} of them at their own path")
print(f"ext4magic: {e[0]} byte-exact, {e[1]} of them at their own path")
PY
printf 'time: vindaru save %.2f s, ext4magic -r %.2f s\n' "$(echo "$t1 - $t0" | bc)" "$(echo "$t2 - $t1" | bc)"
