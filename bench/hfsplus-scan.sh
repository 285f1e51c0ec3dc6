#!/usr/bin/env bash
# Speed of the HFS+ Standard scan with the full recursive listing against The Sleuth Kit's
# `fls -r -p` of the same volume (about 20,000 files), page-cached, in one run:
#   `vindaru-cli ls IMAGE VOLUME -r`   vs   `fls -r -p IMAGE`
# The vindaru time includes opening the image, the extents overflow and catalog B-trees read
# by position, the linking, the tree's first level and every path of the listing. Goal: <= 1.0.
#
#   bench/hfsplus-scan.sh [BUILD_DIR]        (default: build)
set -euo pipefail

build=${1:-build}
cli="$build/vindaru-cli"
[ -x "$cli" ] || { echo "build vindaru-cli first ($cli)" >&2; exit 1; }
command -v fls >/dev/null || { echo "The Sleuth Kit's fls is needed" >&2; exit 1; }
source "$(dirname "$0")/hfsplus-volume.sh"

"$cli" ls "$hfs_image" "${hfs_volume[@]}" -r >/dev/null 2>&1 # warm the catalog's pages
fls -r -p "$hfs_image" >/dev/null
rounds=${VINDARU_BENCH_ROUNDS:-5}
fls_t=() ls_t=()
for _ in $(seq "$rounds"); do
    t0=$(now); fls -r -p "$hfs_image" >/dev/null; t1=$(now)
    "$cli" ls "$hfs_image" "${hfs_volume[@]}" -r >/dev/null 2>&1; t2=$(now)
    fls_t+=("$(echo "$t1 - $t0" | bc)") ls_t+=("$(echo "$t2 - $t1" | bc)")
done
f=$(best "${fls_t[@]}") v=$(best "${ls_t[@]}")
ours=$("$cli" ls "$hfs_image" "${hfs_volume[@]}" -r 2>/dev/null | wc -l)
theirs=$(fls -r -p "$hfs_image" | wc -l)
echo "volume: $(($(stat -c %s "$hfs_image") >> 20)) MiB; vindaru lists $ours entries, fls $theirs"
printf 'scan + listing: fls %.3f s, vindaru %.3f s, ratio %.2f (goal <= 1.0)\n' "$f" "$v" "$(echo "$v / $f" | bc -l)"
