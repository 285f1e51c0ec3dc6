#!/usr/bin/env bash
# Builds samples/sample-disk.vmdk: a small MBR disk with a FAT16 volume and an ext2 volume (in an
# extended partition), each holding a few files, some of them deleted afterwards, converted to a
# monolithic sparse VMDK. Uses only Debian tools: sfdisk (fdisk), mkfs.fat + mtools (dosfstools,
# mtools), mke2fs + debugfs (e2fsprogs), qemu-img (qemu-utils).
#
# usage: scripts/make-sample-image.sh [OUTPUT.vmdk]   (default: samples/sample-disk.vmdk)
set -euo pipefail

root=$(cd "$(dirname "$0")/.." && pwd)
out=${1:-$root/samples/sample-disk.vmdk}
export PATH=$PATH:/usr/sbin:/sbin
for tool in sfdisk mkfs.fat mcopy mdel mmd mke2fs debugfs qemu-img; do
    command -v "$tool" >/dev/null || {
        echo "missing $tool: apt-get install fdisk dosfstools mtools e2fsprogs qemu-utils" >&2
        exit 1
    }
done

work=$(mktemp -d /tmp/vindaru-sample-XXXXXX)
trap 'rm -rf "$work"' EXIT

# Fixed times and ids, so that a rebuild gives the same volumes.
export TZ=UTC SOURCE_DATE_EPOCH=1700000000 E2FSPROGS_FAKE_TIME=1700000000
stamp=202311142213.20

disk=$work/disk.raw
# 8 MiB disk. Sectors: FAT16 2048..8191 (3 MiB), extended 8192..16383 holding a logical ext2
# from 10240 (its EBR at 8192, 3 MiB of data).
truncate -s 8M "$disk"
sfdisk --quiet --label dos "$disk" <<'TABLE'
label-id: 0x5a1d0d15
start=2048, size=6144, type=6, bootable
start=8192, size=8192, type=5
start=10240, size=6144, type=83
TABLE

# --- FAT16 volume: 512-byte clusters so it stays FAT16 at 3 MiB.
fat=$work/fat.img
truncate -s 3M "$fat"
mkfs.fat -F 16 -s 1 -n SAMPLEFAT -i 5A1D0001 --invariant -h 2048 "$fat" >/dev/null
files=$work/files
mkdir -p "$files"
write_text() { # NAME LINES: numbered lines, so every file has known, distinct content
    awk -v n="$2" -v name="$(basename "$1")" 'BEGIN { for (i = 1; i <= n; i++) printf "%s line %d of %d\n", name, i, n }' >"$1"
}
write_text "$files/README.TXT" 20
write_text "$files/Report for the board.txt" 400
write_text "$files/notes.txt" 60
write_text "$files/deleted-letter.txt" 300
write_text "$files/draft.txt" 150
write_text "$files/kept-in-docs.txt" 90
write_text "$files/old-plan.txt" 250
touch -t "$stamp" "$files"/*
export MTOOLS_SKIP_CHECK=1
mmd -i "$fat" ::/Documents ::/Documents/Old
mcopy -m -i "$fat" "$files/README.TXT" "$files/Report for the board.txt" "$files/notes.txt" "$files/deleted-letter.txt" ::/
mcopy -m -i "$fat" "$files/draft.txt" "$files/kept-in-docs.txt" ::/Documents/
mcopy -m -i "$fat" "$files/old-plan.txt" ::/Documents/Old/
mdel -i "$fat" "::/deleted-letter.txt" ::/Documents/draft.txt

# --- ext2 volume: 1 KiB blocks, built from a folder, then two files removed.
tree=$work/ext2tree
mkdir -p "$tree/photos" "$tree/logs"
write_text "$tree/hello.txt" 10
write_text "$tree/logs/system.log" 500
write_text "$tree/logs/removed.log" 200
write_text "$tree/photos/list.txt" 40
write_text "$tree/photos/gone.txt" 120
find "$tree" -exec touch -h -t "$stamp" {} +
ext2=$work/ext2.img
mke2fs -q -t ext2 -b 1024 -L sample-ext2 -U 5a1d0d15-0000-4000-8000-000000000002 \
    -E hash_seed=5a1d0d15-0000-4000-8000-000000000003 -d "$tree" "$ext2" 3M >/dev/null
# mke2fs -d copies each file's change time from the host; pin it like the other times.
{
    for path in / /lost+found /hello.txt /logs /logs/system.log /logs/removed.log /photos \
        /photos/list.txt /photos/gone.txt; do
        echo "set_inode_field $path ctime 20231114221320"
    done
    echo "rm /logs/removed.log"
    echo "rm /photos/gone.txt"
} >"$work/debugfs.cmd"
debugfs -w -f "$work/debugfs.cmd" "$ext2" >/dev/null 2>&1

dd if="$fat" of="$disk" bs=512 seek=2048 conv=notrunc status=none
dd if="$ext2" of="$disk" bs=512 seek=10240 conv=notrunc status=none

mkdir -p "$(dirname "$out")"
qemu-img convert -f raw -O vmdk -o subformat=monolithicSparse "$disk" "$out"
echo "wrote $out ($(stat -c %s "$out") bytes, raw disk $(stat -c %s "$disk") bytes, md5 $(md5sum <"$disk" | cut -c1-32))"
