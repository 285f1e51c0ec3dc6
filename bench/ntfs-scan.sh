#!/usr/bin/env bash
# Speed of the NTFS Standard scan with a full recursive listing, and of saving a 500 MiB file,
# against The Sleuth Kit on the same raw volume, in one run:
#   `vindaru-cli ls IMAGE 1 -r --tsv`  vs  `fls -r -p IMAGE`
#   `vindaru-cli save IMAGE 1 --out DIR /big-500m.bin`  vs  `icat IMAGE INODE`
# Peak memory (max RSS) of the scan is reported too.
#
#   bench/ntfs-scan.sh [BUILD_DIR]        (default: build)
#
# The volume (about 100,000 files, made with mkntfs and ntfs-3g by bench/make-ntfs-100k.sh)
# is made once in $VINDARU_BENCH_DIR (default /tmp/vindaru-bench).
set -euo pipefail

build=${1:-build}
cli="$build/vindaru-cli"
dir=${VINDARU_BENCH_DIR:-/tmp/vindaru-bench}
image="$dir/ntfs-100k.raw"
here=$(cd "$(dirname "$0")" && pwd)
[ -x "$cli" ] || { echo "build vindaru-cli first ($cli)" >&2; exit 1; }
command -v fls >/dev/null || { echo "The Sleuth Kit (fls, icat) is needed" >&2; exit 1; }
mkdir -p "$dir"
"$here/make-ntfs-100k.sh" "$image"

out=$(mktemp -d)
trap 'rm -rf "$out"' EXIT
cat "$image" >/dev/null # warm the page cache
inode=$(ifind -n /big-500m.bin "$image")

now() { date +%s.%N; }
best() { python3 -c "import sys; print(min(float(x) for x in sys.argv[1:]))" "$@"; }
rounds=${VINDARU_BENCH_ROUNDS:-3}
fls_t=() ls_t=() icat_t=() save_t=()
for _ in $(seq "$rounds"); do
    t0=$(now); fls -r -p "$image" >"$out/fls.txt"; t1=$(now)
    "$cli" ls "$image" 1 -r --tsv >"$out/ls.tsv"; t2=$(now)
    icat "$image" "$inode" >"$out/icat.bin"; t3=$(now)
    rm -rf "$out/save"; mkdir "$out/save"
    "$cli" save "$image" 1 --out "$out/save" /big-500m.bin >/dev/null; t4=$(now)
    fls_t+=("$(echo "$t1 - $t0" | bc)") ls_t+=("$(echo "$t2 - $t1" | bc)")
    icat_t+=("$(echo "$t3 - $t2" | bc)") save_t+=("$(echo "$t4 - $t3" | bc)")
done
rss=$( { /usr/bin/time -f "%M" "$cli" ls "$image" 1 -r --tsv >/dev/null; } 2>&1 | tail -1)
f=$(best "${fls_t[@]}") l=$(best "${ls_t[@]}") i=$(best "${icat_t[@]}") s=$(best "${save_t[@]}")
echo "entries listed: fls $(wc -l <"$out/fls.txt"), vindaru $(($(wc -l <"$out/ls.tsv") - 1))"
printf 'scan + recursive listing: fls %.3f s, vindaru %.3f s, ratio %.2f (goal <= 1.0)\n' "$f" "$l" "$(echo "$l / $f" | bc -l)"
printf 'save 500 MiB file:        icat %.3f s, vindaru %.3f s, ratio %.2f (goal <= 1.0)\n' "$i" "$s" "$(echo "$s / $i" | bc -l)"
echo "peak memory of the scan and listing: ${rss} KiB"
cmp -s "$out/icat.bin" "$out/save/big-500m.bin" && echo "saved file equals icat's output" || echo "saved file DIFFERS from icat's output"
