# What bench/compare.sh (.xls) and bench/compare_xlsx.sh (.xlsx) share,
# sourced by both once they have set $top (the checkout) and $runs: the
# build of tabrook, the driver and the stopwatch in the release preset (or
# the one TABROOK_BENCH_PRESET names), the benchmark workbooks, a scratch
# folder $out removed on exit, and the functions that measure a command and
# print the table.
preset=${TABROOK_BENCH_PRESET:-release}
cd "$top"
tools/setup.sh tools/debian-packages.txt tools/debian-packages-generators.txt
cmake --preset "$preset" >/dev/null
cmake --build "build/$preset" -j"$(nproc)" --target tabrook xlsodbc measure_process >/dev/null
export ODBCSYSINI="$top/build/$preset/etc"
/usr/bin/python3 bench/make_workbooks.py >/dev/null
tabrook="build/$preset/app/tabrook"
out=$(mktemp -d)
trap 'rm -rf "$out"' EXIT

# measure RUNS CMD...: prints "median_seconds peak_kb median_cpu_seconds".
# Every command runs through sh -c (the same small overhead for each), after
# its output files are removed, so that no run pays for truncating the
# previous one's file. measure_process takes the wall time around the
# process and, from its rusage, the CPU time (user + system, to the
# microsecond, which /usr/bin/time rounds to 10 ms) and the peak memory.
measure() {
  local n=$1; shift
  local times=() cpus=() peak=0 t m c
  for _ in $(seq "$n"); do
    rm -rf "$out"/*.csv "$out"/orcus
    read -r t c m < <("build/$preset/bench/measure_process" "$*")
    times+=("$t")
    cpus+=("$c")
    [ "$m" -gt "$peak" ] && peak=$m
  done
  printf '%s %s %s\n' "$(median "${times[@]}")" "$peak" "$(median "${cpus[@]}")"
}

median() {
  printf '%s\n' "$@" | sort -g | awk '{a[NR]=$1} END {printf "%.6f\n", (NR%2 ? a[(NR+1)/2] : (a[NR/2]+a[NR/2+1])/2)}'
}

# The machine, the number of runs and the load before the measurements.
print_machine() {
  printf '%s\n' "machine: $(nproc) cores, $(grep -m1 'model name' /proc/cpuinfo | cut -d: -f2 | sed 's/^ //'), runs: $runs (median)"
  printf '%s\n' "load before: $(cut -d' ' -f1-3 /proc/loadavg)"
}

# table_header WORKBOOK: the workbook's name and size, then the columns.
table_header() {
  printf '\n%s (%s bytes)\n' "$1" "$(stat -c %s "$1")"
  printf '%-28s %10s %10s %12s %8s %10s\n' converter "median ms" "CPU ms" "peak MiB" "ratio" "CPU ratio"
}

# row NAME SECONDS PEAK_KB CPU_SECONDS: one converter's line, with its
# ratios to tabrook's times in $base and $basecpu.
row() {
  awk -v n="$1" -v t="$2" -v m="$3" -v c="$4" -v b="$base" -v bc="$basecpu" 'BEGIN {printf "%-28s %10.1f %10.2f %12.1f %7.2fx %9.2fx\n", n, t*1000, c*1000, m/1024, (b>0 ? t/b : 0), (bc>0 ? c/bc : 0)}'
}

print_load_after() {
  printf '\n%s\n' "load after: $(cut -d' ' -f1-3 /proc/loadavg)"
}
