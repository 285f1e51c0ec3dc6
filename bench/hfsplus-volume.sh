# Sourced by the HFS+ benchmarks: makes (once) the 2 GiB HFS+ volume they time, in
# $VINDARU_BENCH_DIR (default /tmp/vindaru-bench): 20,000 small files in 20 folders and 2 GiB
# of pseudo-random data in eight files, written by xorriso's HFS+ writer; the HFS+ partition of
# the hybrid image (found in its Apple partition map with mmls) is cut out as a bare volume.
source "$(dirname "${BASH_SOURCE[0]}")/bench-common.sh"
hfs_dir=${VINDARU_BENCH_DIR:-/tmp/vindaru-bench}
hfs_image="$hfs_dir/hfsplus-2g.raw"
mkdir -p "$hfs_dir"

make_hfsplus_volume() {
    local work start count
    work=$(mktemp -d "$hfs_dir/hfs-src.XXXXXX")
    python3 - "$work/src" <<'PY'
import os, sys, random
root = sys.argv[1]
rnd = random.Random(2048)
for d in range(20):
    folder = os.path.join(root, f"folder-{d:02d}")
    os.makedirs(folder)
    for f in range(1000):
        size = rnd.choice((0, 100, 700, 1500, 4096, 6000))
        with open(os.path.join(folder, f"file-{d:02d}-{f:04d}.dat"), "wb") as fh:
            fh.write(bytes([(d + f) & 0xFF]) * size)
PY
    for k in 0 1 2 3 4 5 6 7; do
        { openssl enc -aes-128-ctr -pass pass:hfs$k -nosalt -pbkdf2 </dev/zero 2>/dev/null || true; } |
            head -c $((256 << 20)) >"$work/src/random-$k.bin"
    done
    xorriso -as mkisofs -hfsplus -o "$work/hybrid.iso" "$work/src" >/dev/null 2>&1
    read -r start count < <(mmls "$work/hybrid.iso" | awk '/Apple_HFS/ {print $3 + 0, $5 + 0}')
    dd if="$work/hybrid.iso" of="$hfs_image.part" bs=512 skip="$start" count="$count" status=none
    mv "$hfs_image.part" "$hfs_image"
    rm -rf "$work"
}
[ -f "$hfs_image" ] || make_hfsplus_volume
hfs_volume=(--start 0 --type HFS+ --size-mb $(( ($(stat -c %s "$hfs_image") + (1 << 20) - 1) >> 20 )) --extent FLAT)

