#!/usr/bin/env bash
# Speed of the image readers against independent peers, measured in one run:
#   - `vindaru-cli export` against `qemu-img convert -O raw` of the same image;
#   - `vindaru-cli cat > /dev/null` against `cat` of the equivalent raw file (page-cached).
# On a 2 GiB disk about 90% allocated and one about 10% allocated, each as a monolithic sparse
# VMDK, a dynamic VHD and a VDI (all made by qemu-img). Ratios are ours ÷ peer in time (the
# median of the per-pair ratios of runs made back to back), so below 1.0 is faster than the peer.
# Goals: export ≤ 1.0, cat ≤ 1.25.
#
# usage: bench/image-readers.sh
#   VINDARU_CLI=path       use this vindaru-cli instead of building one (build-bench/)
#   VINDARU_BENCH_DIR=dir  scratch folder (default /tmp/vindaru-bench); this script works in
#                          its image-readers/ subfolder, never inside the project
#   BENCH_RUNS=N           pairs of runs per measurement, medians shown (default 5)
#   BENCH_KEEP=1           keep the scratch images for a later run
#   BENCH_FORMATS="vhd vdi" only these containers (default: vmdk vhd vdi)
#   BENCH_OUT=dir          where the exports are written (default /dev/shm when it has 3 GiB
#                          free, so that both tools are timed on reading and not on the disk)
set -euo pipefail
source "$(dirname "${BASH_SOURCE[0]}")/bench-common.sh"

root=$(cd "$(dirname "$0")/.." && pwd)
scratch=${VINDARU_BENCH_DIR:-/tmp/vindaru-bench}/image-readers
runs=${BENCH_RUNS:-5}
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
# A raw disk where `percent` of the 1 MiB slots hold random data and the rest are holes.
make_raw() { # NAME PERCENT
    local raw=$scratch/$1.raw
    [[ -f $raw ]] && return
    truncate -s "${size_mib}M" "$raw.part"
    local slot
    for ((slot = 0; slot < size_mib; slot++)); do
        if (((slot * 37 % 100) < $2)); then
            dd if=/dev/urandom of="$raw.part" bs=1M count=1 seek="$slot" conv=notrunc status=none
        fi
    done
    mv "$raw.part" "$raw"
}

convert() { # NAME FORMAT EXT
    local out=$scratch/$1.$3
    [[ -f $out ]] || qemu-img convert -f raw -O "$2" "$scratch/$1.raw" "$out"
}

# Wall time of one run of a command, in seconds; dirty pages flushed first.
one_time() {
    local start
    sync
    start=$(date +%s.%N)
    "$@" >/dev/null 2>&1
    awk -v a="$start" -v b="$(date +%s.%N)" 'BEGIN { printf "%.6f", b - a }'
}


# `runs` pairs of (ours, peer) run back to back; prints the medians of our time, the peer's time
# and the per-pair ratio, so a slow moment of the machine hits both sides of a pair.
paired() { # OURS-FUNCTION PEER-FUNCTION OURS-ARG PEER-ARG
    local ours peer ratios="" ours_all="" peer_all=""
    for ((i = 0; i < runs; i++)); do
        ours=$(one_time "$1" "$3")
        peer=$(one_time "$2" "$4")
        ours_all+="$ours"$'\n'
        peer_all+="$peer"$'\n'
        ratios+=$(awk -v a="$ours" -v b="$peer" 'BEGIN { printf "%.4f", (b > 0 ? a / b : 0) }')$'\n'
    done
    printf '%.3f %.3f %.2f\n' "$(printf '%s' "$ours_all" | median)" "$(printf '%s' "$peer_all" | median)" \
        "$(printf '%s' "$ratios" | median)"
}

ratio() { awk -v a="$1" -v b="$2" 'BEGIN { printf "%.2f", (b > 0 ? a / b : 0) }'; }

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
qemu_export() {
    rm -rf "$out_dir" && mkdir -p "$out_dir"
    qemu-img convert -O raw "$1" "$out_dir/disk.raw"
}
ours_cat() { "$cli" cat "$1" >/dev/null; }
plain_cat() { cat "$1" >/dev/null; }

cleanup() {
    rm -rf "$out_dir"
    [[ ${BENCH_KEEP:-0} == 1 ]] || rm -rf "$scratch"
}
trap cleanup EXIT
echo "preparing images in $scratch; exports go to $out_base ..." >&2
for fill in 90 10; do
    make_raw "disk$fill" "$fill"
    convert "disk$fill" vmdk vmdk
    convert "disk$fill" vpc vhd
    convert "disk$fill" vdi vdi
done

printf '%-18s %9s %9s %7s   %9s %9s %7s\n' image export qemu-img ratio cat "raw cat" ratio
for fill in 90 10; do
    raw=$scratch/disk$fill.raw
    cat "$raw" >/dev/null # into the page cache
    for ext in ${BENCH_FORMATS:-vmdk vhd vdi}; do
        image=$scratch/disk$fill.$ext
        cat "$image" >/dev/null
        read -r e_ours e_peer e_ratio < <(paired ours_export qemu_export "$image" "$image")
        read -r c_ours c_peer c_ratio < <(paired ours_cat plain_cat "$image" "$raw")
        printf '%-18s %8ss %8ss %7.2f   %8ss %8ss %7.2f\n' "$fill% $ext" "$e_ours" "$e_peer" \
            "$e_ratio" "$c_ours" "$c_peer" "$c_ratio"
    done
done
