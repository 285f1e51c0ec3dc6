#!/usr/bin/env bash
# Speed of saving one 200 MiB file from the ext2 benchmark volume against The Sleuth Kit's
# `icat` of the same inode, page-cached, in one run; both write into the same folder (in memory
# under /dev/shm when it is there). vindaru's time includes its scan of the volume (100,000
# files), which `icat` does not need. Goal: <= 1.0. Peak memory of both is reported.
#
#   bench/ext2-save.sh [BUILD_DIR]        (default: build)
set -euo pipefail

build=${1:-build}
cli="$build/vindaru-cli"
[ -x "$cli" ] || { echo "build vindaru-cli first ($cli)" >&2; exit 1; }
command -v icat >/dev/null || { echo "The Sleuth Kit's icat is needed" >&2; exit 1; }
source "$(dirname "$0")/ext2-volume.sh"

base=/dev/shm
[ -d "$base" ] && [ -w "$base" ] || base=$ext_dir
out=$(mktemp -d "$base/ext2-save.XXXXXX")
trap 'rm -rf "$out"' EXIT
inode=$(fls -p "$ext_image" | awk -F'\t' '$2 == "big-200m.bin" {sub(/:$/, "", $1); n = split($1, f, " "); print f[n]}')
[ -n "$inode" ] || { echo "big-200m.bin not found by fls" >&2; exit 1; }

save() { rm -rf "$out/v"; mkdir "$out/v"; "$cli" save "$ext_image" "${ext_volume[@]}" --out "$out/v" /big-200m.bin >/dev/null 2>&1; }
cat_() { icat "$ext_image" "$inode" >"$out/icat.bin"; }
save; cat_
cmp "$out/v/big-200m.bin" "$out/icat.bin" || { echo "saved file differs from icat" >&2; exit 1; }
rounds=${VINDARU_BENCH_ROUNDS:-5}
icat_t=() save_t=()
for _ in $(seq "$rounds"); do
    t0=$(now); cat_; t1=$(now); save; t2=$(now)
    icat_t+=("$(echo "$t1 - $t0" | bc)") save_t+=("$(echo "$t2 - $t1" | bc)")
done
i=$(best "${icat_t[@]}") v=$(best "${save_t[@]}")
/usr/bin/time -f "%M" -o "${TMPDIR:-/tmp}/ext2-bench-rss" "$cli" save "$ext_image" "${ext_volume[@]}" --out "$out" /big-200m.bin >/dev/null 2>&1
rss=$(tail -1 "${TMPDIR:-/tmp}/ext2-bench-rss")
icat_rss=$( { /usr/bin/time -f "%M" icat "$ext_image" "$inode" >/dev/null; } 2>&1 | tail -1)
printf 'save 200 MiB: icat %.3f s, vindaru %.3f s (scan included), ratio %.2f (goal <= 1.0)\n' "$i" "$v" "$(echo "$v / $i" | bc -l)"
echo "peak memory: vindaru ${rss} KiB, icat ${icat_rss} KiB"
