#!/usr/bin/env bash
# Speed of the HFS+ Deep scan (the whole volume swept for catalog leaf nodes, every record
# taken, the files grouped under ORPHAN_ENTRY) against `cat` of the same raw volume, both
# page-cached, in one run:
#   `vindaru-cli ls IMAGE VOLUME --mode deep`   vs   `cat IMAGE > /dev/null`
# The vindaru time includes opening the image, the sweep, the extents overflow file, the
# linking and the first-level listing. Goal: within 1.25x of cat.
#
#   bench/hfsplus-deep-scan.sh [BUILD_DIR]        (default: build)
set -euo pipefail

build=${1:-build}
cli="$build/vindaru-cli"
[ -x "$cli" ] || { echo "build vindaru-cli first ($cli)" >&2; exit 1; }
source "$(dirname "$0")/hfsplus-volume.sh"

cat "$hfs_image" >/dev/null # warm the page cache
rounds=${VINDARU_BENCH_ROUNDS:-3}
cat_t=() deep_t=()
for _ in $(seq "$rounds"); do
    t0=$(now); cat "$hfs_image" >/dev/null; t1=$(now)
    "$cli" ls "$hfs_image" "${hfs_volume[@]}" --mode deep >/dev/null 2>&1; t2=$(now)
    cat_t+=("$(echo "$t1 - $t0" | bc)") deep_t+=("$(echo "$t2 - $t1" | bc)")
done
c=$(best "${cat_t[@]}") d=$(best "${deep_t[@]}")
found=$("$cli" ls "$hfs_image" "${hfs_volume[@]}" --mode deep -r --tsv 2>/dev/null | wc -l)
echo "volume: $(($(stat -c %s "$hfs_image") >> 20)) MiB; deep scan lists $((found - 1)) entries"
printf 'deep scan: cat %.3f s, vindaru %.3f s, ratio %.2f (goal <= 1.25)\n' "$c" "$d" "$(echo "$d / $c" | bc -l)"
