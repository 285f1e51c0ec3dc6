# Sourced by the ext2 benchmarks: makes (once) the ext2 volume they time, in $VINDARU_BENCH_DIR
# (default /tmp/vindaru-bench): 100,000 small files in 100 folders and one 200 MiB file of
# pseudo-random data, written by `mke2fs -d` (4 KiB blocks, 1.5 GiB, no mount needed).
# With ext_kind=ext4-deleted set before sourcing: the same tree on ext4 (with its journal), then
# 2,000 files and one folder of them removed by debugfs; with ext_kind=ext4-kernel the same
# files written and removed through a loop mount (root only).
source "$(dirname "${BASH_SOURCE[0]}")/bench-common.sh"
ext_dir=${VINDARU_BENCH_DIR:-/tmp/vindaru-bench}
ext_kind=${ext_kind:-ext2}
ext_image="$ext_dir/$ext_kind-100k.raw"
mkdir -p "$ext_dir"

make_ext2_volume() {
    local work
    work=$(mktemp -d "$ext_dir/ext2-src.XXXXXX")
    python3 - "$work/src" <<'PY'
import os, sys, random
root = sys.argv[1]
rnd = random.Random(100000)
for d in range(100):
    folder = os.path.join(root, f"folder-{d:03d}")
    os.makedirs(folder)
    for f in range(1000):
        size = rnd.choice((0, 100, 700, 1500, 4096, 6000))
        with open(os.path.join(folder, f"file-{d:03d}-{f:04d}.dat"), "wb") as fh:
            fh.write(bytes([(d + f) & 0xFF]) * size)
PY
    { openssl enc -aes-128-ctr -pass pass:ext2 -nosalt -pbkdf2 </dev/zero 2>/dev/null || true; } |
        head -c $((200 << 20)) >"$work/src/big-200m.bin"
    if [ "$ext_kind" = ext4-kernel ]; then
        # Written and deleted through the kernel (root and loop devices needed): the deletion
        # clears the inodes' maps, and the journal holds the older inode and folder blocks.
        mke2fs -q -F -t ext4 -b 4096 -N 131072 "$ext_image.part" 1536M
        mkdir -p "$work/mnt"
        mount -o loop "$ext_image.part" "$work/mnt"
        cp -a "$work/src/." "$work/mnt/"
        sync
        for d in $(seq 0 9); do for f in $(seq 0 10 999); do
            rm "$(printf '%s/folder-%03d/file-%03d-%04d.dat' "$work/mnt" "$d" "$d" "$f")"
        done; done
        rm -r "$work/mnt/folder-099"
        sync
        umount "$work/mnt"
    elif [ "$ext_kind" = ext4-deleted ]; then
        mke2fs -q -F -t ext4 -b 4096 -N 131072 -d "$work/src" "$ext_image.part" 1536M
        {
            for d in $(seq 0 9); do for f in $(seq 0 10 999); do
                printf 'rm /folder-%03d/file-%03d-%04d.dat\n' "$d" "$d" "$f"
            done; done
            for f in $(seq 0 999); do printf 'rm /folder-099/file-099-%04d.dat\n' "$f"; done
            echo 'rmdir /folder-099'
        } >"$work/rm.cmd"
        debugfs -w -f "$work/rm.cmd" "$ext_image.part" >/dev/null 2>&1
    else
        mke2fs -q -F -t ext2 -b 4096 -N 131072 -d "$work/src" "$ext_image.part" 1536M
    fi
    mv "$ext_image.part" "$ext_image"
    rm -rf "$work"
}
[ -f "$ext_image" ] || make_ext2_volume
ext_volume=(--start 0 --type extX --size-mb $(( ($(stat -c %s "$ext_image") + (1 << 20) - 1) >> 20 )) --extent FLAT)

