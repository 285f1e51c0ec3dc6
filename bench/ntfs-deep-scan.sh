#!/usr/bin/env bash
# Speed of the NTFS Deep scan (every 512-byte boundary of the volume checked for an MFT record,
# every named record parsed) against `cat` of the same raw volume, both page-cached, in one run:
#   `vindaru-cli ls IMAGE VOLUME --mode deep`   vs   `cat IMAGE > /dev/null`
# (VOLUME: the raw volume as a flat disk, --start 0 --type NTFS --extent FLAT). The vindaru time
# includes opening the image, the deep scan, the linking by disk order and the first-level
# listing. Goal: within 1.25x of cat. A second line times the Advanced mode's candidate search
# (`vindaru-cli candidates`, which reads the whole volume unless it finds 3 MFT starts first)
# for reference.
#
#   bench/ntfs-deep-scan.sh [BUILD_DIR] [VOLUME.raw]     (default: build, the volume below)
#
# VOLUME.raw may be another raw NTFS volume, e.g. the 100,000-record one of
# bench/make-ntfs-100k.sh.
#
# The volume (2 GiB, made once with mkntfs and ntfs-3g in $VINDARU_BENCH_DIR, default
# /tmp/vindaru-bench): 20,000 small files in 20 folders and 1 GiB of pseudo-random data.
set -euo pipefail
source "$(dirname "${BASH_SOURCE[0]}")/bench-common.sh"

build=${1:-build}
cli="$build/vindaru-cli"
dir=${VINDARU_BENCH_DIR:-/tmp/vindaru-bench}
image=${2:-$dir/ntfs-deep-2g.raw}
[ -x "$cli" ] || { echo "build vindaru-cli first ($cli)" >&2; exit 1; }
mkdir -p "$dir"

make_volume() {
    local work
    work=$(mktemp -d)
    trap 'fusermount -u "$work/mnt" 2>/dev/null || true; rm -rf "$work"' RETURN
    truncate -s 2048M "$image.part"
    mkntfs -q -F -f -L deep2g "$image.part" >/dev/null 2>&1
    mkdir "$work/mnt"
    ntfs-3g -o big_writes "$image.part" "$work/mnt"
    python3 - "$work/mnt" <<'PY'
import os, sys, random
root = sys.argv[1]
rnd = random.Random(2048)
for d in range(20):
    folder = os.path.join(root, f"folder-{d:02d}")
    os.mkdir(folder)
    for f in range(1000):
        size = rnd.choice((0, 100, 700, 1500, 4096, 6000))
        with open(os.path.join(folder, f"file-{d:02d}-{f:04d}.dat"), "wb") as fh:
            fh.write(bytes([(d + f) & 0xFF]) * size)
PY
    for k in 0 1 2 3; do
        { openssl enc -aes-128-ctr -pass pass:deep$k -nosalt -pbkdf2 </dev/zero 2>/dev/null || true; } |
            head -c $((256 << 20)) >"$work/mnt/random-$k.bin"
    done
    fusermount -u "$work/mnt"
    mv "$image.part" "$image"
}
[ -f "$image" ] || make_volume

vol=(--start 0 --type NTFS --extent FLAT)
cat "$image" >/dev/null # warm the page cache

rounds=${VINDARU_BENCH_ROUNDS:-3}
cat_t=() deep_t=() cand_t=()
for _ in $(seq "$rounds"); do
    t0=$(now); cat "$image" >/dev/null; t1=$(now)
    "$cli" ls "$image" "${vol[@]}" --mode deep >/dev/null 2>&1; t2=$(now)
    "$cli" candidates "$image" "${vol[@]}" >/dev/null 2>&1; t3=$(now)
    cat_t+=("$(echo "$t1 - $t0" | bc)") deep_t+=("$(echo "$t2 - $t1" | bc)") cand_t+=("$(echo "$t3 - $t2" | bc)")
done
c=$(best "${cat_t[@]}") d=$(best "${deep_t[@]}") k=$(best "${cand_t[@]}")
found=$("$cli" ls "$image" "${vol[@]}" --mode deep -r --tsv 2>/dev/null | wc -l)
echo "volume: $(($(stat -c %s "$image") >> 20)) MiB; deep scan lists $((found - 1)) entries"
printf 'deep scan:        cat %.3f s, vindaru %.3f s, ratio %.2f (goal <= 1.25)\n' "$c" "$d" "$(echo "$d / $c" | bc -l)"
printf 'candidate search: vindaru %.3f s\n' "$k"
