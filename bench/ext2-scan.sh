#!/usr/bin/env bash
# Speed of the ext2 Standard scan with the full recursive listing against The Sleuth Kit's
# `fls -r -p` of the same raw volume (about 100,000 files), page-cached, in one run:
#   `vindaru-cli ls IMAGE VOLUME -r`   vs   `fls -r -p IMAGE`
# The vindaru time includes opening the image, the superblock, descriptors and inode tables,
# every directory block, the entry map and links, the tree's first level and every listed line
# (with its time, size and attribute texts). Goal: <= 1.0, as the median of rounds in which the two
# alternate (wall and CPU time). Peak memory of both is reported.
# With ext_kind=ext4-deleted the volume is ext4 with 2,000 files and a folder removed (see
# ext2-volume.sh): the scan then also reads the names in directory slack, the deleted folder,
# the orphans and the whole journal; with ext_kind=ext4-kernel the same deletions went through
# the kernel, so the journal holds the older copies the scan looks through.
#
#   [ext_kind=ext4-deleted|ext4-kernel] bench/ext2-scan.sh [BUILD_DIR]        (default: build)
set -euo pipefail

build=${1:-build}
cli="$build/vindaru-cli"
[ -x "$cli" ] || { echo "build vindaru-cli first ($cli)" >&2; exit 1; }
command -v fls >/dev/null || { echo "The Sleuth Kit's fls is needed" >&2; exit 1; }
source "$(dirname "$0")/ext2-volume.sh"

"$cli" ls "$ext_image" "${ext_volume[@]}" -r >/dev/null 2>&1 # warm the page cache
fls -r -p "$ext_image" >/dev/null
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
rounds=${VINDARU_BENCH_ROUNDS:-9}
fls_t=() ls_t=() ratio_t=() fls_cpu=() ls_cpu=()
# The two alternate, so a busy spell of the machine falls on both; each round's ratio is kept.
for _ in $(seq "$rounds"); do
    t0=$(now); cpu fls -r -p "$ext_image" >/dev/null; t1=$(now); fls_cpu+=("$(cpu_of)")
    cpu "$cli" ls "$ext_image" "${ext_volume[@]}" -r >/dev/null 2>/dev/null; t2=$(now); ls_cpu+=("$(cpu_of)")
    fls_t+=("$(echo "$t1 - $t0" | bc)") ls_t+=("$(echo "$t2 - $t1" | bc)")
    ratio_t+=("$(echo "($t2 - $t1) / ($t1 - $t0)" | bc -l)")
done
f=$(median_of "${fls_t[@]}") v=$(median_of "${ls_t[@]}") r=$(median_of "${ratio_t[@]}")
fc=$(median_of "${fls_cpu[@]}") vc=$(median_of "${ls_cpu[@]}")
ours=$("$cli" ls "$ext_image" "${ext_volume[@]}" -r 2>/dev/null | wc -l)
theirs=$(fls -r -p "$ext_image" | wc -l)
/usr/bin/time -f "%M" -o "${TMPDIR:-/tmp}/ext2-bench-rss" "$cli" ls "$ext_image" "${ext_volume[@]}" -r >/dev/null 2>&1
rss=$(tail -1 "${TMPDIR:-/tmp}/ext2-bench-rss")
fls_rss=$( { /usr/bin/time -f "%M" fls -r -p "$ext_image" >/dev/null; } 2>&1 | tail -1)
echo "volume: $(($(stat -c %s "$ext_image") >> 20)) MiB; vindaru lists $ours entries, fls $theirs"
printf 'scan + listing, medians of %d rounds: fls %.3f s, vindaru %.3f s, ratio %.2f, median of the rounds'"'"' ratios %.2f (goal <= 1.0)\n' \
    "$rounds" "$f" "$v" "$(echo "$v / $f" | bc -l)" "$r"
printf 'CPU time (user + system), medians: fls %.3f s, vindaru %.3f s, ratio %.2f\n' "$fc" "$vc" "$(echo "$vc / $fc" | bc -l)"
echo "peak memory: vindaru ${rss} KiB, fls ${fls_rss} KiB"
