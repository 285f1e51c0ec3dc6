#!/usr/bin/env bash
# Speed of the NTFS Standard scan with a full recursive listing, and of saving a 500 MiB file,
# against The Sleuth Kit on the same raw volume, in one run:
#   `vindaru-cli ls IMAGE VOLUME -r --tsv`  vs  `fls -r -p IMAGE`
#   `vindaru-cli save IMAGE VOLUME --out DIR /big-500m.bin`  vs  `icat IMAGE INODE`
# (VOLUME: the raw volume as a flat disk, --start 0 --type NTFS --extent FLAT). The vindaru
# times include opening the image and the whole Standard scan; "save only" subtracts the time of
# the same scan that lists the one file.
# Peak memory (max RSS) of the scan is reported too. Times are medians of the rounds
# (VINDARU_BENCH_ROUNDS, default 5), each round running both tools one after the other.
#
#   bench/ntfs-scan.sh [BUILD_DIR]        (default: build)
#
# The volume (about 100,000 files, made with mkntfs and ntfs-3g by bench/make-ntfs-100k.sh)
# is made once in $VINDARU_BENCH_DIR (default /tmp/vindaru-bench).
set -euo pipefail
source "$(dirname "${BASH_SOURCE[0]}")/bench-common.sh"

build=${1:-build}
cli="$build/vindaru-cli"
dir=${VINDARU_BENCH_DIR:-/tmp/vindaru-bench}
image="$dir/ntfs-100k.raw"
here=$(cd "$(dirname "$0")" && pwd)
[ -x "$cli" ] || { echo "build vindaru-cli first ($cli)" >&2; exit 1; }
command -v fls >/dev/null || { echo "The Sleuth Kit (fls, icat) is needed" >&2; exit 1; }
mkdir -p "$dir"
"$here/make-ntfs-100k.sh" "$image"

vol=(--start 0 --type NTFS --extent FLAT)
out=$(mktemp -d)
trap 'rm -rf "$out"' EXIT
cat "$image" >/dev/null # warm the page cache
inode=$(ifind -n /big-500m.bin "$image")

# The median of the rounds: the machine may be shared, and one lucky round says little.
rounds=${VINDARU_BENCH_ROUNDS:-5}
fls_t=() ls_t=() icat_t=() save_t=() one_t=()
for _ in $(seq "$rounds"); do
    t0=$(now); fls -r -p "$image" >"$out/fls.txt"; t1=$(now)
    "$cli" ls "$image" "${vol[@]}" -r --tsv >"$out/ls.tsv" 2>/dev/null; t2=$(now)
    icat "$image" "$inode" >"$out/icat.bin"; t3=$(now)
    rm -rf "$out/save"; mkdir "$out/save"
    "$cli" save "$image" "${vol[@]}" --out "$out/save" /big-500m.bin >/dev/null 2>&1; t4=$(now)
    "$cli" ls "$image" "${vol[@]}" /big-500m.bin >/dev/null 2>&1; t5=$(now)
    fls_t+=("$(echo "$t1 - $t0" | bc)") ls_t+=("$(echo "$t2 - $t1" | bc)")
    icat_t+=("$(echo "$t3 - $t2" | bc)") save_t+=("$(echo "$t4 - $t3" | bc)")
    one_t+=("$(echo "$t5 - $t4" | bc)")
done
/usr/bin/time -f "%M" -o "$out/rss" "$cli" ls "$image" "${vol[@]}" -r --tsv >/dev/null 2>&1
rss=$(tail -1 "$out/rss")
fls_rss=$( { /usr/bin/time -f "%M" fls -r -p "$image" >/dev/null; } 2>&1 | tail -1)
f=$(median_of "${fls_t[@]}") l=$(median_of "${ls_t[@]}") i=$(median_of "${icat_t[@]}") s=$(median_of "${save_t[@]}")
o=$(median_of "${one_t[@]}")
echo "entries listed: fls $(wc -l <"$out/fls.txt"), vindaru $(($(wc -l <"$out/ls.tsv") - 1))"
printf 'scan + recursive listing: fls %.3f s, vindaru %.3f s, ratio %.2f (goal <= 0.8)\n' "$f" "$l" "$(echo "$l / $f" | bc -l)"
printf 'save 500 MiB file:        icat %.3f s, vindaru %.3f s, ratio %.2f (goal <= 1.0)\n' "$i" "$s" "$(echo "$s / $i" | bc -l)"
printf '  of which the scan:       %.3f s; save only %.3f s, ratio %.2f\n' "$o" "$(echo "$s - $o" | bc -l)" "$(echo "($s - $o) / $i" | bc -l)"
echo "peak memory of the scan and listing: vindaru ${rss} KiB, fls ${fls_rss} KiB"
cmp -s "$out/icat.bin" "$out/save/big-500m.bin" && echo "saved file equals icat's output" || echo "saved file DIFFERS from icat's output"
