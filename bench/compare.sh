#!/usr/bin/env bash
# Whole-process conversions of one worksheet to CSV: tabrook against the
# converters a user would pick instead, on the workbooks of
# make_workbooks.py. Prints the median wall time of RUNS runs, the peak
# memory (maximum resident set), the median CPU time (user + system, which
# the load of a shared machine disturbs less than the wall time), and the
# ratio to tabrook; `cat` of the workbook is the floor.
#   bench/compare.sh [RUNS] [CONVERTER...]
# RUNS defaults to 5 (LibreOffice runs 3 times at most); naming converters
# (tabrook xls2csv ssconvert xlrd libreoffice) measures only those and cat.
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
runs=${1:-5}
shift $(( $# > 0 ? 1 : 0 ))
only=" $* "
cd "$top"
tools/setup.sh tools/debian-packages.txt tools/debian-packages-generators.txt
cmake --preset release >/dev/null
cmake --build --preset release -j"$(nproc)" --target tabrook xlsodbc measure_process >/dev/null
export ODBCSYSINI="$top/build/release/etc"
/usr/bin/python3 bench/make_workbooks.py >/dev/null
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
    rm -f "$out"/*.csv
    read -r t c m < <(build/release/bench/measure_process "$*")
    times+=("$t")
    cpus+=("$c")
    [ "$m" -gt "$peak" ] && peak=$m
  done
  printf '%s %s %s\n' "$(median "${times[@]}")" "$peak" "$(median "${cpus[@]}")"
}

median() {
  printf '%s\n' "$@" | sort -g | awk '{a[NR]=$1} END {printf "%.6f\n", (NR%2 ? a[(NR+1)/2] : (a[NR/2]+a[NR/2+1])/2)}'
}

wanted() { [ "$only" = "  " ] || [[ "$only" == *" $1 "* ]]; }

printf '%s\n' "machine: $(nproc) cores, $(grep -m1 'model name' /proc/cpuinfo | cut -d: -f2 | sed 's/^ //'), runs: $runs (median)"
printf '%s\n' "load before: $(cut -d' ' -f1-3 /proc/loadavg)"
for wb in wide narrow small; do
  xls="bench/cache/$wb.xls"
  printf '\n%s (%s bytes)\n' "$xls" "$(stat -c %s "$xls")"
  printf '%-28s %10s %10s %12s %8s %10s\n' converter "median ms" "CPU ms" "peak MiB" "ratio" "CPU ratio"
  read -r base basemem basecpu < <(measure "$runs" "build/release/app/tabrook '$xls' '$out/t.csv' '$wb' UTF-8 , Unix")
  row() { awk -v n="$1" -v t="$2" -v m="$3" -v c="$4" -v b="$base" -v bc="$basecpu" 'BEGIN {printf "%-28s %10.1f %10.2f %12.1f %7.2fx %9.2fx\n", n, t*1000, c*1000, m/1024, (b>0 ? t/b : 0), (bc>0 ? c/bc : 0)}'; }
  row "cat (floor)" $(measure "$runs" "cat '$xls' > '$out/c.csv'")
  row "tabrook" "$base" "$basemem" "$basecpu"
  wanted xls2csv && row "xls2csv (catdoc)" $(measure "$runs" "xls2csv -d utf-8 '$xls' > '$out/x.csv'")
  wanted ssconvert && row "ssconvert (gnumeric)" $(measure "$runs" "ssconvert '$xls' '$out/s.csv'")
  wanted xlrd && row "xlrd + csv (python3)" $(measure "$runs" "/usr/bin/python3 bench/xlrd_to_csv.py '$xls' '$out/p.csv'")
  lo_runs=$(( runs < 3 ? runs : 3 ))
  wanted libreoffice && row "libreoffice --convert-to" $(measure "$lo_runs" "soffice '-env:UserInstallation=file://$out/lo' --headless --norestore --convert-to csv --outdir '$out' '$xls'")
done
printf '\n%s\n' "load after: $(cut -d' ' -f1-3 /proc/loadavg)"
