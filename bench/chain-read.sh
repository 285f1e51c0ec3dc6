#!/usr/bin/env bash
# Snapshot chains, measured in one run:
#   - `vindaru-cli cat > /dev/null` through a chain of three sparse layers (a dynamic VHD made by
#     qemu-img and two differencing VHDs over it, each holding half of a fifth of the blocks)
#     against `cat` of the equivalent raw disk (page-cached), and against `vindaru-cli cat` of
#     that raw disk. Goal: ≤ 1.25 against the raw disk.
#   - opening a chain of 32 layers over a 2 TiB disk (`vindaru-cli info`): wall time and peak
#     memory (maximum resident set). Goal: under a second, tens of MB.
#
# usage: bench/chain-read.sh
#   VINDARU_CLI=path       use this vindaru-cli instead of building one (build-bench/)
#   VINDARU_BENCH_DIR=dir  scratch folder (default /tmp/vindaru-bench); this script works in its
#                          chain-read/ subfolder, never inside the project
#   BENCH_RUNS=N           pairs of runs per measurement, medians shown (default 5)
#   BENCH_KEEP=1           keep the scratch images for a later run
set -euo pipefail
source "$(dirname "${BASH_SOURCE[0]}")/bench-common.sh"

root=$(cd "$(dirname "$0")/.." && pwd)
scratch=${VINDARU_BENCH_DIR:-/tmp/vindaru-bench}/chain-read
runs=${BENCH_RUNS:-5}
case "$scratch" in "$root"|"$root"/*) echo "scratch folder must be outside the project" >&2; exit 1 ;; esac
command -v qemu-img >/dev/null || { echo "needs qemu-img (apt-get install qemu-utils)" >&2; exit 1; }
command -v python3 >/dev/null || { echo "needs python3" >&2; exit 1; }

if [[ -n ${VINDARU_CLI:-} ]]; then
    cli=$VINDARU_CLI
else
    cmake -S "$root" -B "$root/build-bench" -G Ninja -DCMAKE_BUILD_TYPE=Release \
        -DVINDARU_GUI=OFF -DVINDARU_TESTS=OFF >/dev/null
    cmake --build "$root/build-bench" --target vindaru-cli >/dev/null
    cli=$root/build-bench/vindaru-cli
fi
make_child=$root/bench/make-vhd-chain.py

cleanup() { [[ ${BENCH_KEEP:-0} == 1 ]] || rm -rf "$scratch"; }
trap cleanup EXIT
mkdir -p "$scratch"
cd "$scratch"

size_mib=1024
if [[ ! -f top.vhd ]]; then
    echo "preparing a chain of three layers over a ${size_mib} MiB disk in $scratch ..." >&2
    truncate -s "${size_mib}M" disk.raw
    for ((slot = 0; slot < size_mib; slot += 2)); do
        if (((slot * 37 % 100) < 60)); then
            dd if=/dev/urandom of=disk.raw bs=1M count=2 seek="$slot" conv=notrunc status=none
        fi
    done
    qemu-img convert -f raw -O vpc -o subformat=dynamic disk.raw base.vhd
    # qemu-img may round the size up to whole CHS cylinders: the raw disk follows.
    truncate -s "$("$cli" info base.vhd --json | sed -n 's/.*"diskBytes": \([0-9]*\).*/\1/p')" disk.raw
    python3 "$make_child" base.vhd mid.vhd 1 20 disk.raw
    python3 "$make_child" mid.vhd top.vhd 2 20 disk.raw
fi

one_time() {
    local start
    start=$(date +%s.%N)
    "$@" >/dev/null 2>&1
    awk -v a="$start" -v b="$(date +%s.%N)" 'BEGIN { printf "%.6f", b - a }'
}
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
ours_cat() { "$cli" cat "$1" >/dev/null; }
plain_cat() { cat "$1" >/dev/null; }

# The chain must read as the raw disk, or the timing means nothing.
cmp <("$cli" cat top.vhd) disk.raw || { echo "the chain does not read as the raw disk" >&2; exit 1; }
cat base.vhd mid.vhd top.vhd disk.raw >/dev/null
read -r c_ours c_peer c_ratio < <(paired ours_cat plain_cat top.vhd disk.raw)
read -r r_ours r_peer r_ratio < <(paired ours_cat ours_cat top.vhd disk.raw)
printf '%-34s %9s %9s %7s\n' measurement ours peer ratio
printf '%-34s %8ss %8ss %7.2f\n' "cat, 3-layer chain vs cat raw" "$c_ours" "$c_peer" "$c_ratio"
printf '%-34s %8ss %8ss %7.2f\n' "cat, 3-layer chain vs ours raw" "$r_ours" "$r_peer" "$r_ratio"

# 32 layers over a 2 TiB disk: the base is a dynamic VHD that stores nothing.
if [[ ! -f deep31.vhd ]]; then
    echo "preparing a chain of 32 layers over a 2 TiB disk ..." >&2
    python3 "$make_child" --base $((2 << 40)) deep0.vhd
    for ((i = 1; i < 32; i++)); do
        python3 "$make_child" --empty "deep$((i - 1)).vhd" "deep$i.vhd"
    done
fi
cat deep*.vhd >/dev/null
times=""
for ((i = 0; i < runs; i++)); do times+=$(one_time "$cli" info deep31.vhd)$'\n'; done
rss=$( { /usr/bin/time -f '%M' "$cli" info deep31.vhd >/dev/null; } 2>&1 | tail -1)
printf '%-34s %8ss %9s\n' "open 32 layers of 2 TiB (info)" "$(printf '%s' "$times" | median)" "$((rss / 1024)) MB"
