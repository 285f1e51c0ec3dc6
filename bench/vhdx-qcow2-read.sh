#!/usr/bin/env bash
# Speed of the VHDX and QCOW2 readers against qemu-img, measured in one run: `vindaru-cli cat >
# /dev/null` and `vindaru-cli export` of a 2 GiB disk, each against `qemu-img convert -O raw` of
# the same image. The disk is about 60% allocated with data that compresses about 4:1 (text
# made of random bytes), as a dynamic VHDX and as QCOW2 plain, deflate-compressed and
# zstd-compressed (all made by qemu-img). Ratios are ours ÷ qemu-img in time (the median of the
# per-pair ratios of runs made back to back), so below 1.0 is faster. Goal: ≤ 1.0.
#
# usage: bench/vhdx-qcow2-read.sh
#   VINDARU_CLI=path       use this vindaru-cli instead of building one (build-bench/)
#   VINDARU_BENCH_DIR=dir  scratch folder (default /tmp/vindaru-bench); this script works in
#                          its vhdx-qcow2/ subfolder, never inside the project
#   BENCH_RUNS=N           pairs of runs per measurement, medians shown (default 3)
#   BENCH_KEEP=1           keep the scratch images for a later run
#   BENCH_IMAGES="vhdx qcow2" only these (default: vhdx qcow2 qcow2-deflate qcow2-zstd)
#   BENCH_OUT=dir          where the exports are written (default /dev/shm when it has 3 GiB
#                          free, so that both tools are timed on reading and not on the disk)
set -euo pipefail
source "$(dirname "${BASH_SOURCE[0]}")/bench-common.sh"

root=$(cd "$(dirname "$0")/.." && pwd)
scratch=${VINDARU_BENCH_DIR:-/tmp/vindaru-bench}/vhdx-qcow2
runs=${BENCH_RUNS:-3}
case "$scratch" in "$root"|"$root"/*) echo "scratch folder must be outside the project" >&2; exit 1 ;; esac
command -v qemu-img >/dev/null || { echo "needs qemu-img (apt-get install qemu-utils)" >&2; exit 1; }

if [[ -n ${VINDARU_CLI:-} ]]; then
    cli=$VINDARU_CLI
else
    cmake -S "$root" -B "$root/build-bench" -G Ninja -DCMAKE_BUILD_TYPE=Release \
        -DVINDARU_GUI=OFF -DVINDARU_TESTS=OFF >/dev/null
    cmake --build "$root/build-bench" --target vindaru-cli >/dev/null
    cli=$root/build-bench/vindaru-cli
fi

mkdir -p "$scratch"
size_mib=2048
raw=$scratch/disk.raw
if [[ ! -f $raw ]]; then
    # One 4 MiB piece of text from random bytes, written into 60% of the 1 MiB slots at
    # different offsets of it, so no two slots are alike.
    head -c 3M /dev/urandom | base64 -w 0 | head -c 4M > "$scratch/text"
    truncate -s "${size_mib}M" "$raw.part"
    for ((slot = 0; slot < size_mib; slot++)); do
        if (((slot * 37 % 100) < 60)); then
            dd if="$scratch/text" of="$raw.part" bs=64K count=16 skip=$((slot % 48)) seek=$((slot * 16)) \
                conv=notrunc status=none
        fi
    done
    mv "$raw.part" "$raw"
fi
make_image() { # FILE qemu-img-convert-options...
    local out=$1
    shift
    [[ -f $out ]] || qemu-img convert -f raw "$@" "$raw" "$out"
}
make_image "$scratch/disk.vhdx" -O vhdx
make_image "$scratch/disk.qcow2" -O qcow2
make_image "$scratch/disk-deflate.qcow2" -c -O qcow2
make_image "$scratch/disk-zstd.qcow2" -c -O qcow2 -o compression_type=zstd

one_time() {
    local start
    sync
    start=$(date +%s.%N)
    "$@" >/dev/null 2>&1
    awk -v a="$start" -v b="$(date +%s.%N)" 'BEGIN { printf "%.6f", b - a }'
}
paired() { # OURS-FUNCTION PEER-FUNCTION IMAGE
    local ours peer ratios="" ours_all="" peer_all=""
    for ((i = 0; i < runs; i++)); do
        ours=$(one_time "$1" "$3")
        peer=$(one_time "$2" "$3")
        ours_all+="$ours"$'\n'
        peer_all+="$peer"$'\n'
        ratios+=$(awk -v a="$ours" -v b="$peer" 'BEGIN { printf "%.4f", (b > 0 ? a / b : 0) }')$'\n'
    done
    printf '%.3f %.3f %.2f\n' "$(printf '%s' "$ours_all" | median)" "$(printf '%s' "$peer_all" | median)" \
        "$(printf '%s' "$ratios" | median)"
}

out_base=${BENCH_OUT:-}
if [[ -z $out_base ]]; then
    out_base=$scratch
    free_kib=$(df -Pk /dev/shm 2>/dev/null | awk 'NR == 2 { print $4 }')
    if [[ -n $free_kib && $free_kib -gt $((3 << 20)) ]]; then out_base=/dev/shm; fi
fi
out_dir=$out_base/vindaru-bench-out.$$
ours_export() {
    rm -rf "$out_dir" && mkdir -p "$out_dir"
    "$cli" export "$1" "$out_dir"
}
ours_cat() { "$cli" cat "$1" >/dev/null; }
qemu_raw() {
    rm -rf "$out_dir" && mkdir -p "$out_dir"
    qemu-img convert -O raw "$1" "$out_dir/disk.raw"
}
cleanup() {
    rm -rf "$out_dir"
    [[ ${BENCH_KEEP:-0} == 1 ]] || rm -rf "$scratch"
}
trap cleanup EXIT

image_of() { # NAME
    case $1 in
    vhdx) echo "$scratch/disk.vhdx" ;;
    qcow2) echo "$scratch/disk.qcow2" ;;
    qcow2-*) echo "$scratch/disk-${1#qcow2-}.qcow2" ;;
    esac
}

# Both tools must give the same disk before either is timed.
for name in ${BENCH_IMAGES:-vhdx qcow2 qcow2-deflate qcow2-zstd}; do
    image=$(image_of "$name")
    cmp <("$cli" cat "$image") "$raw" >/dev/null || { echo "$name: cat differs from the raw disk" >&2; exit 1; }
done

printf '%-15s %9s %9s %7s   %9s %9s %7s\n' image export qemu-img ratio cat qemu-img ratio
for name in ${BENCH_IMAGES:-vhdx qcow2 qcow2-deflate qcow2-zstd}; do
    image=$(image_of "$name")
    cat "$image" >/dev/null # into the page cache
    read -r e_ours e_peer e_ratio < <(paired ours_export qemu_raw "$image")
    read -r c_ours c_peer c_ratio < <(paired ours_cat qemu_raw "$image")
    printf '%-15s %8ss %8ss %7.2f   %8ss %8ss %7.2f\n' "$name" "$e_ours" "$e_peer" "$e_ratio" \
        "$c_ours" "$c_peer" "$c_ratio"
done
