#!/usr/bin/env bash
# Speed of the ext2 Standard scan with the full recursive listing against The Sleuth Kit's
# `fls -r -p` of the same raw volume (about 100,000 files), page-cached, in one run:
#   `vindaru-cli ls IMAGE VOLUME -r`   vs   `fls -r -p IMAGE`
# The vindaru time includes opening the image, the superblock, descriptors and inode tables,
# every directory block, the entry map and links, the tree's first level and every listed line
# (with its time, size and attribute texts). Goal: <= 1.0. Peak memory of both is reported.
# With ext_kind=ext4-deleted the volume is ext4 with 2,000 files and a folder removed (see
# ext2-volume.sh): the scan then also reads the names in directory slack, the deleted folder,
# the orphans and the whole journal.
#
#   [ext_kind=ext4-deleted] bench/ext2-scan.sh [BUILD_DIR]        (default: build)
set -euo pipefail

build=${1:-build}
cli="$build/vindaru-cli"
[ -x "$cli" ] || { echo "build vindaru-cli first ($cli)" >&2; exit 1; }
command -v fls >/dev/null || { echo "The Sleuth Kit's fls is needed" >&2; exit 1; }
source "$(dirname "$0")/ext2-volume.sh"

"$cli" ls "$ext_image" "${ext_volume[@]}" -r >/dev/null 2>&1 # warm the page cache
fls -r -p "$ext_image" >/dev/null
rounds=${VINDARU_BENCH_ROUNDS:-5}
fls_t=() ls_t=()
for _ in $(seq "$rounds"); do
    t0=$(now); fls -r -p "$ext_image" >/dev/null; t1=$(now)
    "$cli" ls "$ext_image" "${ext_volume[@]}" -r >/dev/null 2>&1; t2=$(now)
    fls_t+=("$(echo "$t1 - $t0" | bc)") ls_t+=("$(echo "$t2 - $t1" | bc)")
done
f=$(best "${fls_t[@]}") v=$(best "${ls_t[@]}")
ours=$("$cli" ls "$ext_image" "${ext_volume[@]}" -r 2>/dev/null | wc -l)
theirs=$(fls -r -p "$ext_image" | wc -l)
/usr/bin/time -f "%M" -o "${TMPDIR:-/tmp}/ext2-bench-rss" "$cli" ls "$ext_image" "${ext_volume[@]}" -r >/dev/null 2>&1
rss=$(tail -1 "${TMPDIR:-/tmp}/ext2-bench-rss")
fls_rss=$( { /usr/bin/time -f "%M" fls -r -p "$ext_image" >/dev/null; } 2>&1 | tail -1)
echo "volume: $(($(stat -c %s "$ext_image") >> 20)) MiB; vindaru lists $ours entries, fls $theirs"
printf 'scan + listing: fls %.3f s, vindaru %.3f s, ratio %.2f (goal <= 1.0)\n' "$f" "$v" "$(echo "$v / $f" | bc -l)"
echo "peak memory: vindaru ${rss} KiB, fls ${fls_rss} KiB"
