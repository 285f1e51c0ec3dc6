#!/usr/bin/env bash
# Speed of the NTFS Deep scan on a sparse container: a 2 GiB NTFS volume of which about 10% is
# allocated, held in a monolithic sparse VMDK (qemu-img convert), against `cat` of the same
# volume as a raw file, both page-cached, best of a few interleaved rounds:
#   `vindaru-cli ls VOLUME.vmdk --start 0 --type NTFS --mode deep`   vs   `cat VOLUME.raw`
# The sweep passes over the container's unallocated grains without reading them, so the scan
# costs what the allocated tenth costs. Goal: at most 0.3x cat.
#
#   bench/ntfs-deep-sparse.sh [BUILD_DIR]        (default: build)
#
# The volume is made once in $VINDARU_BENCH_DIR (default /tmp/vindaru-bench) with mkntfs and
# ntfs-3g: 5,000 small files in 10 folders and 200 MiB of pseudo-random data.
set -euo pipefail
source "$(dirname "${BASH_SOURCE[0]}")/bench-common.sh"

build=${1:-build}
cli="$build/vindaru-cli"
dir=${VINDARU_BENCH_DIR:-/tmp/vindaru-bench}
raw="$dir/ntfs-sparse-2g.raw"
vmdk="$dir/ntfs-sparse-2g.vmdk"
[ -x "$cli" ] || { echo "build vindaru-cli first ($cli)" >&2; exit 1; }
mkdir -p "$dir"

make_volume() {
    local work
    work=$(mktemp -d)
    trap 'fusermount -u "$work/mnt" 2>/dev/null || true; rm -rf "$work"' RETURN
    truncate -s 2048M "$raw.part"
    mkntfs -q -F -f -L sparse2g "$raw.part" >/dev/null 2>&1
    mkdir "$work/mnt"
    ntfs-3g -o big_writes "$raw.part" "$work/mnt"
    python3 - "$work/mnt" <<'PY'
import os, sys, random
root = sys.argv[1]
rnd = random.Random(2049)
for d in range(10):
    folder = os.path.join(root, f"folder-{d:02d}")
    os.mkdir(folder)
    for f in range(500):
        size = rnd.choice((0, 100, 700, 1500, 4096, 6000))
        with open(os.path.join(folder, f"file-{d:02d}-{f:04d}.dat"), "wb") as fh:
            fh.write(bytes([(d + f) & 0xFF]) * size)
PY
    { openssl enc -aes-128-ctr -pass pass:sparse -nosalt -pbkdf2 </dev/zero 2>/dev/null || true; } |
        head -c $((200 << 20)) >"$work/mnt/random.bin"
    fusermount -u "$work/mnt"
    mv "$raw.part" "$raw"
}
[ -f "$raw" ] || make_volume
[ -f "$vmdk" ] || qemu-img convert -f raw -O vmdk "$raw" "$vmdk"

cat "$raw" >/dev/null # warm the page cache
cat "$vmdk" >/dev/null

rounds=${VINDARU_BENCH_ROUNDS:-3}
cat_t=() deep_t=()
for _ in $(seq "$rounds"); do
    t0=$(now); cat "$raw" >/dev/null; t1=$(now)
    "$cli" ls "$vmdk" --start 0 --type NTFS --mode deep >/dev/null 2>&1; t2=$(now)
    cat_t+=("$(echo "$t1 - $t0" | bc)") deep_t+=("$(echo "$t2 - $t1" | bc)")
done
c=$(best "${cat_t[@]}") d=$(best "${deep_t[@]}")
found=$("$cli" ls "$vmdk" --start 0 --type NTFS --mode deep -r --tsv 2>/dev/null | wc -l)
echo "volume: 2048 MiB, VMDK $(($(du -k "$vmdk" | cut -f1) >> 10)) MiB allocated; deep scan lists $((found - 1)) entries"
printf 'deep scan of the sparse VMDK: cat of the raw volume %.3f s, vindaru %.3f s, ratio %.2f (goal <= 0.3)\n' \
    "$c" "$d" "$(echo "$d / $c" | bc -l)"
