#!/usr/bin/env bash
# Speed of the FAT32 and exFAT Standard scans with a full recursive listing, and of saving a
# 200 MiB file, against The Sleuth Kit on the same raw volume, in one run:
#   `vindaru-cli ls IMAGE VOLUME -r --tsv`  vs  `fls -r -p IMAGE`
#   `vindaru-cli save IMAGE VOLUME --out DIR /big-200m.bin`  vs  `icat IMAGE INODE`
# Each volume holds about 20,000 files in 100 folders plus the 200 MiB file. The FAT32 volume is
# made with mkfs.fat + mtools, the exFAT one with mkfs.exfat and written through exfat-fuse on a
# loop device (skipped when that cannot be mounted here). Times are medians of the rounds
# (VINDARU_BENCH_ROUNDS, default 3).
#
#   bench/fat-scan.sh [BUILD_DIR]        (default: build)
set -euo pipefail
source "$(dirname "${BASH_SOURCE[0]}")/bench-common.sh"

build=${1:-build}
cli="$build/vindaru-cli"
dir=${VINDARU_BENCH_DIR:-/tmp/vindaru-bench}
[ -x "$cli" ] || { echo "build vindaru-cli first ($cli)" >&2; exit 1; }
command -v fls >/dev/null || { echo "The Sleuth Kit (fls, icat) is needed" >&2; exit 1; }
mkdir -p "$dir"

tree=$("$(dirname "$0")/make-fat-tree.sh")

fat32="$dir/fat32-20k.raw"
if [ ! -f "$fat32" ]; then
    rm -f "$fat32.tmp"; truncate -s 1G "$fat32.tmp"
    mkfs.fat -F 32 -s 8 "$fat32.tmp" >/dev/null
    MTOOLS_SKIP_CHECK=1 mcopy -s -i "$fat32.tmp" "$tree"/folder-* "$tree/big-200m.bin" ::/
    mv "$fat32.tmp" "$fat32"
fi

exfat="$dir/exfat-20k.raw"
if [ ! -f "$exfat" ] && command -v mount.exfat-fuse >/dev/null; then
    rm -f "$exfat.tmp"; truncate -s 1G "$exfat.tmp"
    mkfs.exfat "$exfat.tmp" >/dev/null
    mnt=$(mktemp -d)
    if loop=$(losetup -f --show "$exfat.tmp" 2>/dev/null) && mount.exfat-fuse "$loop" "$mnt" >/dev/null 2>&1; then
        cp -r "$tree"/folder-* "$tree/big-200m.bin" "$mnt"/
        sync; fusermount3 -u "$mnt"; losetup -d "$loop"
        mv "$exfat.tmp" "$exfat"
    else
        [ -n "${loop:-}" ] && losetup -d "$loop" 2>/dev/null || true
        echo "exFAT: cannot mount through exfat-fuse here; its benchmark is skipped" >&2
    fi
    rmdir "$mnt"
fi

rounds=${VINDARU_BENCH_ROUNDS:-3}
out=$(mktemp -d)
trap 'rm -rf "$out"' EXIT

run() { # name image type
    local name=$1 image=$2 type=$3
    local vol=(--start 0 --type "$type" --extent FLAT --size-mb 1024)
    cat "$image" >/dev/null # warm the page cache
    local inode; inode=$(ifind -n /big-200m.bin "$image")
    local fls_t=() ls_t=() icat_t=() save_t=()
    for _ in $(seq "$rounds"); do
        t0=$(now); fls -r -p "$image" >"$out/fls.txt"; t1=$(now)
        "$cli" ls "$image" "${vol[@]}" -r --tsv >"$out/ls.tsv" 2>/dev/null; t2=$(now)
        icat "$image" "$inode" >"$out/icat.bin"; t3=$(now)
        rm -rf "$out/save"; mkdir "$out/save"
        "$cli" save "$image" "${vol[@]}" --out "$out/save" /big-200m.bin >/dev/null 2>&1; t4=$(now)
        fls_t+=("$(echo "$t1 - $t0" | bc)") ls_t+=("$(echo "$t2 - $t1" | bc)")
        icat_t+=("$(echo "$t3 - $t2" | bc)") save_t+=("$(echo "$t4 - $t3" | bc)")
    done
    local f l i s
    f=$(median_of "${fls_t[@]}") l=$(median_of "${ls_t[@]}") i=$(median_of "${icat_t[@]}") s=$(median_of "${save_t[@]}")
    echo "$name: entries listed: fls $(wc -l <"$out/fls.txt"), vindaru $(($(wc -l <"$out/ls.tsv") - 1))"
    printf '  scan + recursive listing: fls %.3f s, vindaru %.3f s, ratio %.2f (goal <= 1.0, stretch 0.5)\n' "$f" "$l" "$(echo "$l / $f" | bc -l)"
    printf '  save 200 MiB file:        icat %.3f s, vindaru %.3f s, ratio %.2f (goal <= 1.0)\n' "$i" "$s" "$(echo "$s / $i" | bc -l)"
    cmp -s "$out/icat.bin" "$out/save/big-200m.bin" && echo "  saved file equals icat's output" || echo "  saved file DIFFERS from icat's output"
}

run FAT32 "$fat32" FAT32
[ -f "$exfat" ] && run exFAT "$exfat" FAT64
