#!/usr/bin/env bash
# Sweeps and export over a large, nearly empty sparse disk, in one run:
#   - the boot-sector scan (`vindaru-cli volumes --scan`) of a 200 GiB monolithic sparse VMDK
#     that holds two small FAT32 volumes, one near its start and one at its end: wall time
#     (goal: at most 0.3 s; the holes are passed at the speed of the grain map);
#   - the export of that disk (`vindaru-cli export`) against `qemu-img convert -O raw`: wall
#     time and peak resident memory (/usr/bin/time -v) of each;
#   - the same export pair on a 1 GiB dynamic VHD that is 90% allocated, where memory would
#     grow with the data if the image were mapped (goal: at most 64 MiB peak).
#
#   bench/sparse-disk.sh [BUILD_DIR]        (default: build)
#   VINDARU_CLI_BEFORE=path   also measure this vindaru-cli (an older build) in the same run
#
# The images are made once in $VINDARU_BENCH_DIR/sparse-disk (default /tmp/vindaru-bench) with
# truncate, mkfs.vfat and qemu-img; the exports go to a scratch folder there and are removed.
# VINDARU_BENCH_ROUNDS=N runs each measurement N times and keeps the best (default 3).
set -euo pipefail

build=${1:-build}
cli="$build/vindaru-cli"
root=$(cd "$(dirname "$0")/.." && pwd)
dir=${VINDARU_BENCH_DIR:-/tmp/vindaru-bench}/sparse-disk
case "$dir" in "$root"|"$root"/*) echo "scratch folder must be outside the project" >&2; exit 1 ;; esac
[ -x "$cli" ] || { echo "build vindaru-cli first ($cli)" >&2; exit 1; }
for tool in qemu-img mkfs.vfat /usr/bin/time; do
    command -v "$tool" >/dev/null || { echo "needs $tool" >&2; exit 1; }
done
mkdir -p "$dir"

vmdk="$dir/sparse-200g.vmdk"
vhd="$dir/dense-1g.vhd"
disk_bytes=$((200 << 30))
volume_mib=40

# A FAT32 volume of `volume_mib` MiB, its second half pseudo-random (the stored data a sweep
# must read), written into the raw disk at byte OFFSET.
put_volume() { # RAW OFFSET SEED
    local vol="$dir/volume.part"
    rm -f "$vol"
    truncate -s "${volume_mib}M" "$vol"
    mkfs.vfat -F 32 -S 512 -s 1 "$vol" >/dev/null
    { openssl enc -aes-128-ctr -pass "pass:$3" -nosalt -pbkdf2 </dev/zero 2>/dev/null || true; } |
        head -c $((volume_mib / 2 << 20)) |
        dd of="$vol" bs=1M seek=$((volume_mib / 2)) conv=notrunc status=none
    dd if="$vol" of="$1" bs=1M seek=$(($2 >> 20)) conv=notrunc status=none
    rm -f "$vol"
}

if [ ! -f "$vmdk" ]; then
    echo "making $vmdk ..." >&2
    raw="$dir/sparse-200g.raw"
    rm -f "$raw"
    truncate -s "$disk_bytes" "$raw"
    put_volume "$raw" $((1 << 20)) first
    put_volume "$raw" $((disk_bytes - (volume_mib + 8 << 20))) last
    qemu-img convert -f raw -O vmdk "$raw" "$vmdk.part"
    rm -f "$raw"
    mv "$vmdk.part" "$vmdk"
fi
if [ ! -f "$vhd" ]; then
    echo "making $vhd ..." >&2
    raw="$dir/dense-1g.raw"
    { openssl enc -aes-128-ctr -pass pass:dense -nosalt -pbkdf2 </dev/zero 2>/dev/null || true; } |
        head -c $((1 << 30)) >"$raw"
    # One MiB slot in ten left empty.
    for ((mib = 0; mib < 1024; mib++)); do
        if ((mib * 37 % 100 >= 90)); then fallocate -p -o $((mib << 20)) -l $((1 << 20)) "$raw"; fi
    done
    qemu-img convert -f raw -O vpc "$raw" "$vhd.part"
    rm -f "$raw"
    mv "$vhd.part" "$vhd"
fi

out="$dir/out.$$"
trap 'rm -rf "$out"' EXIT
cat "$vmdk" "$vhd" >/dev/null # into the page cache

rounds=${VINDARU_BENCH_ROUNDS:-3}
# "SECONDS KIB STATUS" of one run of a command (wall time, peak resident set, exit status),
# output dropped; a failure's last message goes to stderr.
measure() {
    local log="$dir/time.$$" status=0
    rm -rf "$out" && mkdir -p "$out"
    sync
    /usr/bin/time -v "$@" >/dev/null 2>"$log" || status=$?
    ((status == 0)) || grep -v '^\s' "$log" | grep -v 'Command exited' | tail -2 >&2
    awk -F': ' -v status="$status" '
        /Elapsed \(wall clock\)/ { n = split($2, p, ":"); s = 0; for (i = 1; i <= n; i++) s = s * 60 + p[i] }
        /Maximum resident set size/ { kib = $2 }
        END { printf "%.3f %d %d\n", s, kib, status }' "$log"
    rm -f "$log"
}
# Best time and highest peak of `rounds` runs: "SECONDS KIB FAILED-RUNS".
best_of() {
    local t k s best_t="" peak=0 failed=0
    for _ in $(seq "$rounds"); do
        read -r t k s < <(measure "$@")
        ((s == 0)) || failed=$((failed + 1))
        if [ -z "$best_t" ] || [ "$(echo "$t < $best_t" | bc -l)" = 1 ]; then best_t=$t; fi
        ((k > peak)) && peak=$k
    done
    echo "$best_t $peak $failed"
}
failed_note() { (($1 == 0)) || printf ' (%d of %d runs failed)' "$1" "$rounds"; }
mib() { echo $((($1 + 512) / 1024)); }

stored=$(du -k "$vmdk" | cut -f1)
clis=("$cli")
[ -n "${VINDARU_CLI_BEFORE:-}" ] && clis=("$VINDARU_CLI_BEFORE" "$cli")
label() { [ "$1" = "$cli" ] && echo vindaru || echo before; }

echo "boot-sector scan, 200 GiB sparse VMDK ($(mib "$stored") MiB stored; goal: at most 0.3 s):"
for c in "${clis[@]}"; do
    read -r scan_t scan_k scan_f < <(best_of "$c" volumes "$vmdk" --scan)
    rows=$("$c" volumes "$vmdk" --scan 2>/dev/null | tail -n +2 | wc -l)
    printf '  %-8s %.3f s, %d MiB peak, %d volumes%s\n' "$(label "$c")" "$scan_t" "$(mib "$scan_k")" "$rows" \
        "$(failed_note "$scan_f")"
done

printf '%-24s %-8s %10s %10s %10s %10s %7s\n' export "" "time" "peak" "qemu-img" "peak" ratio
for image in "$vmdk" "$vhd"; do
    read -r peer_t peer_k peer_f < <(best_of qemu-img convert -O raw "$image" "$out/disk.raw")
    for c in "${clis[@]}"; do
        read -r ours_t ours_k ours_f < <(best_of "$c" export "$image" "$out")
        printf '%-24s %-8s %9.3fs %6d MiB %9.3fs %6d MiB %7.2f%s%s\n' "$(basename "$image")" "$(label "$c")" \
            "$ours_t" "$(mib "$ours_k")" "$peer_t" "$(mib "$peer_k")" "$(echo "$ours_t / $peer_t" | bc -l)" \
            "$(failed_note "$ours_f")" "$(failed_note "$peer_f")"
    done
done
echo "goals: export time at most 1.0x qemu-img, peak memory at most 64 MiB whatever the image"
