# Sourced by the benchmarks: the clock and the statistics they share.
now() { date +%s.%N; }
# The smallest of the arguments.
best() { python3 -c "import sys; print(min(float(x) for x in sys.argv[1:]))" "$@"; }
# The median of the arguments.
median_of() { python3 -c "import sys, statistics; print(statistics.median(float(x) for x in sys.argv[1:]))" "$@"; }
# The median of the numbers on standard input, one a line.
median() { sort -g | awk '{ v[NR] = $1 } END { if (NR % 2) print v[(NR + 1) / 2]; else print (v[NR / 2] + v[NR / 2 + 1]) / 2 }'; }
# CPU seconds (user + system) of a command, beside its wall time: on a busy machine the wall
# times of two runs differ by what else ran; their CPU times do not. Needs $work.
cpu() { /usr/bin/time -f "%U %S" -o "$work/cpu.txt" "$@"; }
cpu_of() { awk '{print $1 + $2}' "$work/cpu.txt"; }
