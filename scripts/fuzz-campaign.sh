#!/usr/bin/env bash
# Runs every libFuzzer target for a fixed time, a few at a time, and prints per target the
# executions, the executions per second, the coverage reached and the findings (crashes, leaks,
# time-outs, out-of-memory). Inputs that made a target fail are kept in the work folder; copy
# them into tests/fuzz/regressions/<target>/ so that test_fuzz_replay replays them from then on.
#
# usage: scripts/fuzz-campaign.sh [-m MINUTES | -s SECONDS] [-j JOBS] [-t TARGET]... [BUILD_DIR]
#   -m / -s    time per target (default: 10 minutes)
#   -j         targets run at once (default: the number of CPUs)
#   -t         run only this target (may be repeated)
#   BUILD_DIR  a build configured with -DVINDARU_FUZZ=ON (default: build-fuzz; configured and
#              built here with clang when it does not exist yet)
#   VINDARU_FUZZ_WORK  where logs, new inputs and findings go (default: a new folder in /tmp)
# Exit status: 0 when no target found anything, 1 otherwise.
set -euo pipefail

root=$(cd "$(dirname "$0")/.." && pwd)
seconds=600
jobs=$(nproc)
only=()
while getopts "m:s:j:t:" opt; do
    case $opt in
    m) seconds=$((OPTARG * 60)) ;;
    s) seconds=$OPTARG ;;
    j) jobs=$OPTARG ;;
    t) only+=("$OPTARG") ;;
    *) sed -n '2,16p' "$0" >&2; exit 2 ;;
    esac
done
shift $((OPTIND - 1))
build=${1:-$root/build-fuzz}

if [[ ! -f $build/CMakeCache.txt ]]; then
    CC=clang CXX=clang++ cmake -S "$root" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
        -DVINDARU_WERROR=ON -DVINDARU_FUZZ=ON -DVINDARU_GUI=OFF >/dev/null
fi
mapfile -t sources < <(cd "$root/tests/fuzz" && ls fuzz_*.cpp)
targets=()
for source in "${sources[@]}"; do
    name=${source%.cpp}
    if [[ ${#only[@]} -eq 0 || " ${only[*]} " == *" $name "* ]]; then targets+=("$name"); fi
done
cmake --build "$build" -j "$jobs" --target "${targets[@]}" >/dev/null

work=${VINDARU_FUZZ_WORK:-$(mktemp -d /tmp/vindaru-fuzz-XXXXXX)}
mkdir -p "$work"
export ASAN_OPTIONS=${ASAN_OPTIONS:-detect_leaks=1:abort_on_error=1}
export UBSAN_OPTIONS=${UBSAN_OPTIONS:-print_stacktrace=1:halt_on_error=1}

# One target: new inputs go to the work folder; the committed seeds and regressions are only read.
run_target() {
    local name=$1
    local dir=$work/$name
    mkdir -p "$dir/corpus" "$dir/findings"
    local seeds=()
    for seed_dir in "$root/tests/fuzz/corpus/$name" "$root/tests/fuzz/regressions/$name"; do
        if [[ -d $seed_dir ]]; then seeds+=("$seed_dir"); fi
    done
    local status=0
    "$build/tests/fuzz/$name" -max_total_time="$seconds" -timeout=20 -rss_limit_mb=2048 \
        -print_final_stats=1 -artifact_prefix="$dir/findings/" \
        "$dir/corpus" "${seeds[@]}" >"$dir/log" 2>&1 || status=$?
    echo "$status" >"$dir/status"
}

running=0
for name in "${targets[@]}"; do
    if ((running >= jobs)); then
        wait -n || true
        running=$((running - 1))
    fi
    run_target "$name" &
    running=$((running + 1))
done
wait || true

printf '%-24s %12s %9s %8s %8s  %s\n' target executions "exec/s" cov features findings
failed=0
for name in "${targets[@]}"; do
    dir=$work/$name
    runs=$(sed -n 's/^stat::number_of_executed_units: *//p' "$dir/log" | tail -n 1)
    rate=$(sed -n 's/^stat::average_exec_per_sec: *//p' "$dir/log" | tail -n 1)
    last=$(grep -E '^#[0-9]+' "$dir/log" | tail -n 1 || true)
    cov=$(sed -n 's/.* cov: \([0-9]*\).*/\1/p' <<<"$last")
    ft=$(sed -n 's/.* ft: \([0-9]*\).*/\1/p' <<<"$last")
    findings=$(find "$dir/findings" -type f | wc -l)
    status=$(cat "$dir/status")
    note=$findings
    if [[ $status -ne 0 || $findings -ne 0 ]]; then
        failed=$((failed + 1))
        note="$findings (exit $status; log $dir/log)"
    fi
    printf '%-24s %12s %9s %8s %8s  %s\n' "$name" "${runs:-?}" "${rate:-?}" "${cov:-?}" "${ft:-?}" "$note"
done
echo "targets: ${#targets[@]}, with findings or failures: $failed, work folder: $work"
if ((failed > 0)); then
    for name in "${targets[@]}"; do
        if [[ $(cat "$work/$name/status") -ne 0 ]]; then
            echo "--- $name"
            tail -n 40 "$work/$name/log"
        fi
    done
    exit 1
fi
