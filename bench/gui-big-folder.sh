#!/usr/bin/env bash
# The scan page on one folder of 100,000 files (an ext4 volume written on a loop mount), offscreen:
# the time from the click on the folder to the list's first painted rows, the longest time the
# window did not answer meanwhile, and the list's sorts and scrolls; then the same folder opened by
# its arrow in the tree, listed whole as the results of a search, and double-clicked in the tree. Against The Sleuth Kit's
# `fls` listing the same folder (the peer: the least any program needs to read the folder).
# Goal: first rows within 0.5 s, sorts in about a second, and the window never still for more
# than 0.5 s.
#
#   bench/gui-big-folder.sh [BUILD_DIR] [FILES]     (defaults: build, 100000)
set -euo pipefail

build=${1:-build}
files=${2:-100000}
bench="$build/bench/gui/vindaru-bench-gui"
[ -x "$bench" ] || { echo "build vindaru-bench-gui first ($bench)" >&2; exit 1; }
command -v fls >/dev/null || { echo "The Sleuth Kit's fls is needed" >&2; exit 1; }
dir=${VINDARU_BENCH_DIR:-/tmp/vindaru-bench}
image="$dir/ext4-folder-$files.raw"
mkdir -p "$dir"
if [ ! -f "$image" ]; then
    # Written through the kernel on a loop mount (needs root): `mke2fs -d` adds a folder's
    # entries one at a time and takes far too long for one folder of this size.
    mnt=$(mktemp -d "$dir/ext4-mnt.XXXXXX")
    # One block for each file holding data, the folder's own blocks and room for the metadata.
    blocks=$(( files + files / 8 + 65536 ))
    mke2fs -q -F -t ext4 -b 4096 -N $(( files + 4096 )) "$image.part" "$blocks"
    mount -o loop "$image.part" "$mnt"
    mkdir "$mnt/big"
    python3 - "$mnt/big" "$files" <<'PY'
import os, sys
folder, count = sys.argv[1], int(sys.argv[2])
for i in range(count):
    with open(os.path.join(folder, f"file-{i:07d}.txt"), "wb") as fh:
        fh.write(b"x" * (i % 700))
PY
    umount "$mnt"
    rmdir "$mnt"
    mv "$image.part" "$image"
fi
inode=$(fls "$image" | awk '$NF == "big" { sub(":", "", $2); print $2 }')
# The peer is given a bounded time: on a folder of a million entries it may not end at all.
fls_limit=${FLS_SECONDS:-120}
peer=""
if timeout "$fls_limit" fls "$image" "$inode" >/dev/null; then # warm the page cache
    t0=$(date +%s.%N); listed=$(fls "$image" "$inode" | wc -l); t1=$(date +%s.%N)
    peer=$(echo "$t1 - $t0" | bc)
    echo "volume: $(($(stat -c %s "$image") >> 20)) MiB, folder 'big' of $listed entries (fls)"
    printf 'fls listing the folder: %.3f s\n' "$peer"
else
    echo "volume: $(($(stat -c %s "$image") >> 20)) MiB; fls did not list the folder within $fls_limit s (FLS_SECONDS)"
fi
out="${TMPDIR:-/tmp}/gui-bench.out"
QT_QPA_PLATFORM=offscreen "$bench" "$image" big select | tee "$out"
first=$(awk '/first painted rows/ { print $(NF-1) }' "$out")
[ -n "$peer" ] && printf 'ratio first rows / fls: %.2f\n' "$(echo "$first / $peer" | bc -l)"
QT_QPA_PLATFORM=offscreen "$bench" "$image" big expand
QT_QPA_PLATFORM=offscreen "$bench" "$image" big search
QT_QPA_PLATFORM=offscreen "$bench" "$image" big open
