#!/usr/bin/env bash
# Speed of the FAT32 Advanced mode's entry scan (every 32-byte slot of the volume tested, then
# the rebuild and the first-level listing) against `cat` of the same raw volume, both
# page-cached, in one run:
#   `vindaru-cli ls IMAGE VOLUME --mode advanced --max 1 --cluster-sectors 8`  vs  `cat IMAGE`
# `--max 1` ends the candidate search at the first FAT, so the time is the entry scan's; a
# second line times the whole Advanced run with the page's default of three candidates (the
# search then reads the volume once more, as there are only two FATs). Goal: within 1.5x of cat.
#
#   bench/fat-advanced-scan.sh [BUILD_DIR]        (default: build)
#
# The volume (2 GiB, made once with mkfs.fat and mtools in $VINDARU_BENCH_DIR, default
# /tmp/vindaru-bench): the 20,000 files of bench/make-fat-tree.sh, then pseudo-random data in
# the rest; its boot sector and the backup are zeroed.
set -euo pipefail
source "$(dirname "${BASH_SOURCE[0]}")/bench-common.sh"

build=${1:-build}
cli="$build/vindaru-cli"
dir=${VINDARU_BENCH_DIR:-/tmp/vindaru-bench}
image="$dir/fat32-2g-noboot.raw"
[ -x "$cli" ] || { echo "build vindaru-cli first ($cli)" >&2; exit 1; }
mkdir -p "$dir"

if [ ! -f "$image" ]; then
    tree=$("$(dirname "$0")/make-fat-tree.sh")
    rm -f "$image.part"; truncate -s 2G "$image.part"
    mkfs.fat -F 32 -s 8 "$image.part" >/dev/null
    MTOOLS_SKIP_CHECK=1 mcopy -s -i "$image.part" "$tree"/folder-* ::/
    { openssl enc -aes-128-ctr -pass pass:fat -nosalt -pbkdf2 </dev/zero 2>/dev/null || true; } |
        head -c $((1700 << 20)) >"$dir/random.part"
    MTOOLS_SKIP_CHECK=1 mcopy -i "$image.part" "$dir/random.part" ::/random.bin
    rm -f "$dir/random.part"
    dd if=/dev/zero of="$image.part" bs=512 count=1 conv=notrunc status=none
    dd if=/dev/zero of="$image.part" bs=512 seek=6 count=1 conv=notrunc status=none
    mv "$image.part" "$image"
fi

vol=(--start 0 --type FAT32 --extent FLAT --mode advanced --cluster-sectors 8)
cat "$image" >/dev/null # warm the page cache

rounds=${VINDARU_BENCH_ROUNDS:-5}
ratio_t=() whole_t=() cat_t=() scan_t=()
for _ in $(seq "$rounds"); do
    t0=$(now); cat "$image" >/dev/null; t1=$(now)
    "$cli" ls "$image" "${vol[@]}" --max 1 >/dev/null 2>&1; t2=$(now)
    "$cli" ls "$image" "${vol[@]}" >/dev/null 2>&1; t3=$(now)
    cat_t+=("$(echo "$t1 - $t0" | bc)") scan_t+=("$(echo "$t2 - $t1" | bc)") whole_t+=("$(echo "$t3 - $t2" | bc)")
    ratio_t+=("$(echo "($t2 - $t1) / ($t1 - $t0)" | bc -l)")
done
listed=$("$cli" ls "$image" "${vol[@]}" --max 1 -r --tsv 2>/dev/null | wc -l)
echo "volume: $(($(stat -c %s "$image") >> 20)) MiB, boot sectors zeroed; the rebuild lists $((listed - 1)) entries"
printf 'entry scan:   cat %.3f s, vindaru %.3f s, ratio %.2f (median of %d pairs; goal <= 1.5)\n' \
    "$(median_of "${cat_t[@]}")" "$(median_of "${scan_t[@]}")" "$(median_of "${ratio_t[@]}")" "$rounds"
printf 'with search:  vindaru %.3f s (three FAT candidates asked for)\n' "$(median_of "${whole_t[@]}")"
