#!/usr/bin/env bash
# Scans at scale: a Standard scan with the full recursive listing of volumes holding about
# 1,000,000 files, against The Sleuth Kit's `fls -r -p` on the same raw volume, in one run:
#   `vindaru-cli ls IMAGE --start 0 --type T --extent FLAT -r --tsv`   vs   `fls -r -p IMAGE`
# For each volume: wall time of both (best of the rounds), their ratio (goal <= 0.5), peak
# resident memory of both (/usr/bin/time -v) and vindaru's bytes per listed entry (goal: about
# 48, names included; the program's own footprint before any entry is taken off).
#
#   bench/scale-1m.sh [BUILD_DIR]             (default: build)
#   VINDARU_SCALE_FILES=N    files to place (default 1000000), in folders of 1,000
#   VINDARU_SCALE_KINDS="ext4 fat32 ntfs"    which volumes (default "ext4"; the FAT32 one is
#                            written by mcopy and the NTFS one through ntfs-3g: at a million
#                            files each takes well over half an hour to make, once)
#
# Volumes: ext4 by `mke2fs -d`, FAT32 by mkfs.fat and `mcopy -s`, NTFS by mkntfs and ntfs-3g;
# each made once in $VINDARU_BENCH_DIR (default /tmp/vindaru-bench) from one source tree of
# empty and small files with names of 12 to 30 characters.
set -euo pipefail
source "$(dirname "${BASH_SOURCE[0]}")/bench-common.sh"

build=${1:-build}
cli="$build/vindaru-cli"
dir=${VINDARU_BENCH_DIR:-/tmp/vindaru-bench}
files=${VINDARU_SCALE_FILES:-1000000}
kinds=${VINDARU_SCALE_KINDS:-ext4}
rounds=${VINDARU_BENCH_ROUNDS:-3}
[ -x "$cli" ] || { echo "build vindaru-cli first ($cli)" >&2; exit 1; }
command -v fls >/dev/null || { echo "The Sleuth Kit's fls is needed" >&2; exit 1; }
mkdir -p "$dir"
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

# The source tree: folders of 1,000 files; every tenth file holds a few hundred bytes.
make_tree() {
    local tree=$1
    python3 - "$tree" "$files" <<'PY'
import os, sys
tree, files = sys.argv[1], int(sys.argv[2])
os.makedirs(tree, exist_ok=True)
for i in range(files):
    folder = os.path.join(tree, "folder-%04d" % (i // 1000))
    if i % 1000 == 0:
        os.makedirs(folder, exist_ok=True)
    name = "file-%07d-%s.dat" % (i, "x" * (i % 19))
    with open(os.path.join(folder, name), "wb") as f:
        if i % 10 == 0:
            f.write(bytes([i % 251]) * (100 + i % 400))
PY
}

tree=""
source_tree() {
    if [ -z "$tree" ]; then
        tree="$work/tree"
        echo "making a tree of $files files..." >&2
        make_tree "$tree"
    fi
}

make_volume() {
    local kind=$1 image=$2
    source_tree
    case $kind in
    ext4)
        truncate -s $((files / 1000 * 8 + 512))M "$image.part"
        mke2fs -q -t ext4 -N $((files + 10000)) -d "$tree" "$image.part"
        ;;
    fat32)
        truncate -s $((files / 1000 * 12 + 512))M "$image.part"
        mkfs.fat -F 32 -S 512 -s 8 "$image.part" >/dev/null
        MTOOLS_SKIP_CHECK=1 mcopy -s -i "$image.part" "$tree"/* ::/
        ;;
    ntfs)
        truncate -s $((files / 1000 * 16 + 512))M "$image.part"
        mkntfs -q -F -f "$image.part" >/dev/null
        local mnt="$work/mnt"
        mkdir -p "$mnt"
        ntfs-3g "$image.part" "$mnt"
        cp -r "$tree"/* "$mnt"/
        umount "$mnt"
        ;;
    esac
    mv "$image.part" "$image"
}

type_of() { case $1 in ext4) echo extX ;; fat32) echo FAT32 ;; ntfs) echo NTFS ;; esac; }

# What the program takes before it holds any entry, subtracted from its peak.
/usr/bin/time -f "%M" -o "$work/rss" "$cli" --version >/dev/null
base_rss=$(tail -1 "$work/rss")

for kind in $kinds; do
    image="$dir/scale-$kind-$files.raw"
    [ -f "$image" ] || make_volume "$kind" "$image"
    vol=(--start 0 --type "$(type_of "$kind")" --extent FLAT --size-mb $((($(stat -c %s "$image") + (1 << 20) - 1) >> 20)))
    "$cli" ls "$image" "${vol[@]}" -r --tsv >"$work/ours.tsv" 2>/dev/null # also warms the cache
    fls -r -p "$image" >"$work/theirs.txt"
    fls_t=() ls_t=()
    for _ in $(seq "$rounds"); do
        t0=$(now); fls -r -p "$image" >/dev/null; t1=$(now)
        "$cli" ls "$image" "${vol[@]}" -r --tsv >/dev/null 2>&1; t2=$(now)
        fls_t+=("$(echo "$t1 - $t0" | bc)") ls_t+=("$(echo "$t2 - $t1" | bc)")
    done
    /usr/bin/time -f "%M" -o "$work/rss" "$cli" ls "$image" "${vol[@]}" -r --tsv >/dev/null 2>&1
    ours_rss=$(tail -1 "$work/rss")
    /usr/bin/time -f "%M" -o "$work/rss" fls -r -p "$image" >/dev/null
    fls_rss=$(tail -1 "$work/rss")
    f=$(best "${fls_t[@]}") v=$(best "${ls_t[@]}")
    ours=$(wc -l <"$work/ours.tsv") theirs=$(wc -l <"$work/theirs.txt")
    echo "$kind: $(($(stat -c %s "$image") >> 20)) MiB volume; vindaru lists $ours entries, fls $theirs"
    printf '  scan + listing: fls %.2f s, vindaru %.2f s, ratio %.2f (goal <= 0.5)\n' "$f" "$v" "$(echo "$v / $f" | bc -l)"
    printf '  peak memory: vindaru %d MiB (%.0f bytes an entry), fls %d MiB\n' $((ours_rss >> 10)) \
        "$(echo "($ours_rss - $base_rss) * 1024 / $ours" | bc -l)" $((fls_rss >> 10))
done
