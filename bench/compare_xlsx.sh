#!/usr/bin/env bash
# Whole-process conversions of the benchmark's wide sheet saved as .xlsx by
# LibreOffice (bench/make_workbooks.py: 65,535 rows x 26 mixed columns) to
# CSV: tabrook against the other readers a user would pick, each where it is
# installed. Prints the median wall time of RUNS runs, the median CPU time
# (user + system, which the load of a shared machine disturbs less), the
# peak memory (maximum resident set) and the ratios to tabrook; inflating
# the package's parts alone (`unzip -p`) is the floor.
#   bench/compare_xlsx.sh [RUNS]      (TABROOK_BENCH_PRESET: default release)
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
runs=${1:-5}
preset=${TABROOK_BENCH_PRESET:-release}
cd "$top"
tools/setup.sh tools/debian-packages.txt tools/debian-packages-generators.txt
cmake --preset "$preset" >/dev/null
cmake --build "build/$preset" --target tabrook xlsodbc measure_process >/dev/null
export ODBCSYSINI="$top/build/$preset/etc"
/usr/bin/python3 bench/make_workbooks.py >/dev/null
xlsx=bench/cache/wide.xlsx
out=$(mktemp -d)
trap 'rm -rf "$out"' EXIT

# measure RUNS CMD: "median_seconds peak_kb median_cpu_seconds" (see compare.sh).
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
have() { command -v "$1" >/dev/null; }

printf '%s\n' "machine: $(nproc) cores, $(grep -m1 'model name' /proc/cpuinfo | cut -d: -f2 | sed 's/^ //'), runs: $runs (median)"
printf '%s\n' "load before: $(cut -d' ' -f1-3 /proc/loadavg)"
printf '\n%s (%s bytes)\n' "$xlsx" "$(stat -c %s "$xlsx")"
printf '%-28s %10s %10s %10s %8s %10s\n' converter "median ms" "CPU ms" "peak MiB" "ratio" "CPU ratio"
read -r base basemem basecpu < <(measure "$runs" "build/$preset/app/tabrook '$xlsx' '$out/t.csv' wide UTF-8 , Unix")
row() { awk -v n="$1" -v t="$2" -v m="$3" -v c="$4" -v b="$base" -v bc="$basecpu" 'BEGIN {printf "%-28s %10.1f %10.1f %10.1f %7.2fx %9.2fx\n", n, t*1000, c*1000, m/1024, (b>0 ? t/b : 0), (bc>0 ? c/bc : 0)}'; }
row "unzip -p (inflate floor)" $(measure "$runs" "unzip -p '$xlsx' > /dev/null")
row "tabrook" "$base" "$basemem" "$basecpu"
slow=$(( runs < 3 ? runs : 3 ))
have orcus-xlsx && row "orcus-xlsx -f csv" $(measure "$runs" "mkdir -p '$out/orcus' && orcus-xlsx -f csv -o '$out/orcus' '$xlsx' >/dev/null 2>&1 || true")
have xlsx2csv && row "xlsx2csv" $(measure "$slow" "xlsx2csv '$xlsx' '$out/x.csv'")
have ssconvert && row "ssconvert (gnumeric)" $(measure "$slow" "ssconvert '$xlsx' '$out/s.csv' 2>/dev/null")
have soffice && row "libreoffice --convert-to" $(measure "$slow" "soffice '-env:UserInstallation=file://$out/lo' --headless --norestore --convert-to csv --outdir '$out' '$xlsx' >/dev/null")
printf '\n%s\n' "load after: $(cut -d' ' -f1-3 /proc/loadavg)"
