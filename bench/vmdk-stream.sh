#!/usr/bin/env bash
# Speed of the stream-optimized VMDK reader (deflate grains behind grain markers, the form of
# every OVA/OVF export): `vindaru-cli cat` and `vindaru-cli export` of a 2 GiB disk, against
# `qemu-img convert -O raw` of the same file (the independent peer), all from the page cache
# and written to memory, in one run. Goal: both ratios at most 1.0.
#
#   bench/vmdk-stream.sh [BUILD_DIR]        (default: build)
#
# The disk is made once in $VINDARU_BENCH_DIR (default /tmp/vindaru-bench): 2 GiB in 64 MiB
# stripes, of every four one pseudo-random (deflate cannot shrink it), two compressible text
# and one zeros (grains the stream leaves out). qemu-img makes the container.
set -euo pipefail
source "$(dirname "${BASH_SOURCE[0]}")/bench-common.sh"

build=${1:-build}
cli="$build/vindaru-cli"
dir=${VINDARU_BENCH_DIR:-/tmp/vindaru-bench}
raw="$dir/vmdk-stream-2g.raw"
stream="$dir/vmdk-stream-2g.vmdk"
[ -x "$cli" ] || { echo "build vindaru-cli first ($cli)" >&2; exit 1; }
command -v qemu-img >/dev/null || { echo "qemu-img is needed" >&2; exit 1; }
mkdir -p "$dir"

if [ ! -f "$raw" ] || [ "$(stat -c %s "$raw")" -ne $((2 << 30)) ]; then
    echo "making $raw ..." >&2
    : >"$raw.part"
    for stripe in $(seq 0 31); do
        random() { { openssl enc -aes-128-ctr -pass "pass:vindaru$stripe" -nosalt -pbkdf2 </dev/zero 2>/dev/null || true; }; }
        case $((stripe % 4)) in
        0) random | head -c $((64 << 20)) >>"$raw.part" ;;
        1 | 2) { random | base64 -w 76 || true; } | head -c $((64 << 20)) >>"$raw.part" ;;
        3) truncate -s $(((stripe + 1) * 64 << 20)) "$raw.part" ;;
        esac
    done
    mv "$raw.part" "$raw"
    rm -f "$stream"
fi
[ -f "$stream" ] || qemu-img convert -f raw -O vmdk -o subformat=streamOptimized "$raw" "$stream"

# The reader must give the raw disk back before its speed means anything.
cmp <("$cli" cat "$stream") "$raw"

for f in "$raw" "$stream"; do cat "$f" >/dev/null; done

best() { # NAME SECONDS: keep the smallest time per name
    local name=$1 s=$2 var="best_$1"
    if [ -z "${!var:-}" ] || [ "$(echo "$s < ${!var}" | bc -l)" = 1 ]; then printf -v "$var" '%s' "$s"; fi
}
timed() { # NAME COMMAND...
    local name=$1 t0 t1
    shift
    t0=$(now)
    "$@"
    t1=$(now)
    best "$name" "$(echo "$t1 - $t0" | bc -l)"
}
rounds=${VINDARU_BENCH_ROUNDS:-3}
out_dir=$([ -d /dev/shm ] && echo /dev/shm || echo "$dir")
out="$out_dir/vindaru-stream-2g.out.raw"
export_dir="$out_dir/vindaru-stream-export"
for _ in $(seq "$rounds"); do
    timed qemu qemu-img convert -f vmdk -O raw "$stream" "$out"
    rm -f "$out"
    timed cat sh -c '"$1" cat "$2" >"$3"' _ "$cli" "$stream" "$out"
    rm -f "$out"
    rm -rf "$export_dir" && mkdir -p "$export_dir"
    timed export "$cli" export "$stream" "$export_dir" >/dev/null
    rm -rf "$export_dir"
done

printf 'qemu-img convert -O raw:              %.3f s\n' "$best_qemu"
printf 'vindaru-cli cat to a file:            %.3f s  (ratio to qemu-img %.2f; goal at most 1.0)\n' \
    "$best_cat" "$(echo "$best_cat / $best_qemu" | bc -l)"
printf 'vindaru-cli export:                   %.3f s  (ratio to qemu-img %.2f; goal at most 1.0)\n' \
    "$best_export" "$(echo "$best_export / $best_qemu" | bc -l)"
