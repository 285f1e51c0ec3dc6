#!/usr/bin/env bash
# Speed of the VMDK readers: `vindaru-cli cat` of a 2 GiB disk held as a monolithic sparse VMDK
# and as a split sparse set (through its descriptor), against `cat` of the raw disk (the
# physical limit), all from the page cache; and the same disk written to a file by
# `vindaru-cli cat` and by `qemu-img convert -O raw` (the independent peer), in one run.
#
#   bench/vmdk-read.sh [BUILD_DIR]        (default: build)
#
# The disk is made once in $VINDARU_BENCH_DIR (default /tmp/vindaru-bench): 2 GiB in 64 MiB
# stripes, three of every four pseudo-random data and the fourth zeros, so the VMDK has both
# allocated grains and holes. qemu-img makes the containers.
set -euo pipefail
source "$(dirname "${BASH_SOURCE[0]}")/bench-common.sh"

build=${1:-build}
cli="$build/vindaru-cli"
dir=${VINDARU_BENCH_DIR:-/tmp/vindaru-bench}
raw="$dir/vmdk-2g.raw"
mono="$dir/vmdk-2g.vmdk"
split="$dir/vmdk-2g-split.vmdk"
[ -x "$cli" ] || { echo "build vindaru-cli first ($cli)" >&2; exit 1; }
command -v qemu-img >/dev/null || { echo "qemu-img is needed" >&2; exit 1; }
mkdir -p "$dir"

if [ ! -f "$raw" ] || [ "$(stat -c %s "$raw")" -ne $((2 << 30)) ]; then
    echo "making $raw ..." >&2
    : >"$raw.part"
    for stripe in $(seq 0 31); do
        if [ $((stripe % 4)) -eq 3 ]; then
            truncate -s $(((stripe + 1) * 64 << 20)) "$raw.part"
        else
            { openssl enc -aes-128-ctr -pass "pass:vindaru$stripe" -nosalt -pbkdf2 </dev/zero 2>/dev/null || true; } |
                head -c $((64 << 20)) >>"$raw.part"
        fi
    done
    mv "$raw.part" "$raw"
    rm -f "$mono" "$split" "$dir"/vmdk-2g-split-s*.vmdk
fi
[ -f "$mono" ] || qemu-img convert -f raw -O vmdk -o subformat=monolithicSparse "$raw" "$mono"
[ -f "$split" ] || qemu-img convert -f raw -O vmdk -o subformat=twoGbMaxExtentSparse "$raw" "$split"

# The reader must give the raw disk back before its speed means anything.
cmp <("$cli" cat "$mono" --extent SPARSE) "$raw"
cmp <("$cli" cat "$split" --descriptor) "$raw"

for f in "$raw" "$mono" "$split" "$dir"/vmdk-2g-split-s*.vmdk; do cat "$f" >/dev/null; done

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
# Interleaved rounds, best of each: the machine may be shared.
rounds=${VINDARU_BENCH_ROUNDS:-3}
# Written to memory when /dev/shm exists, so that the disk under the output does not decide.
out_dir=$([ -d /dev/shm ] && echo /dev/shm || echo "$dir")
out="$out_dir/vindaru-vmdk-2g.out.raw"
for _ in $(seq "$rounds"); do
    timed cat sh -c 'cat "$1" >/dev/null' _ "$raw"
    timed mono sh -c '"$1" cat "$2" --extent SPARSE >/dev/null' _ "$cli" "$mono"
    timed split sh -c '"$1" cat "$2" --descriptor >/dev/null' _ "$cli" "$split"
    timed qemu qemu-img convert -f vmdk -O raw "$mono" "$out"
    rm -f "$out"
    timed tofile sh -c '"$1" cat "$2" --extent SPARSE >"$3"' _ "$cli" "$mono" "$out"
    rm -f "$out"
done

printf 'cat of the raw disk:                      %.3f s\n' "$best_cat"
printf 'vindaru-cli cat, monolithic sparse VMDK:  %.3f s  (ratio to cat %.2f; goal at most 1.25)\n' \
    "$best_mono" "$(echo "$best_mono / $best_cat" | bc -l)"
printf 'vindaru-cli cat, split sparse set:        %.3f s  (ratio to cat %.2f)\n' \
    "$best_split" "$(echo "$best_split / $best_cat" | bc -l)"
printf 'qemu-img convert -O raw to a file:        %.3f s\n' "$best_qemu"
printf 'vindaru-cli cat to a file:                %.3f s  (ratio to qemu-img %.2f)\n' \
    "$best_tofile" "$(echo "$best_tofile / $best_qemu" | bc -l)"
printf '(best of %d interleaved rounds, page cache warm)\n' "$rounds"
