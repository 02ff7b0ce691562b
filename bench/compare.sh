#!/usr/bin/env bash
# Whole-process conversions of one worksheet to CSV: tabrook against the
# converters a user would pick instead, on the workbooks of
# make_workbooks.py. Prints the median wall time of RUNS runs, the peak
# memory (maximum resident set), the median CPU time (user + system, which
# the load of a shared machine disturbs less than the wall time), and the
# ratio to tabrook; `cat` of the workbook is the floor.
#   bench/compare.sh [RUNS] [CONVERTER...]   (TABROOK_BENCH_PRESET: default release)
# RUNS defaults to 5 (LibreOffice runs 3 times at most); naming converters
# (tabrook xls2csv ssconvert xlrd libreoffice) measures only those and cat.
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
runs=${1:-5}
shift $(( $# > 0 ? 1 : 0 ))
only=" $* "
source "$top/bench/compare_common.sh"

wanted() { [ "$only" = "  " ] || [[ "$only" == *" $1 "* ]]; }

print_machine
for wb in wide narrow small; do
  xls="bench/cache/$wb.xls"
  table_header "$xls"
  read -r base basemem basecpu < <(measure "$runs" "$tabrook '$xls' '$out/t.csv' '$wb' UTF-8 , Unix")
  row "cat (floor)" $(measure "$runs" "cat '$xls' > '$out/c.csv'")
  row "tabrook" "$base" "$basemem" "$basecpu"
  wanted xls2csv && row "xls2csv (catdoc)" $(measure "$runs" "xls2csv -d utf-8 '$xls' > '$out/x.csv'")
  wanted ssconvert && row "ssconvert (gnumeric)" $(measure "$runs" "ssconvert '$xls' '$out/s.csv'")
  wanted xlrd && row "xlrd + csv (python3)" $(measure "$runs" "/usr/bin/python3 bench/xlrd_to_csv.py '$xls' '$out/p.csv'")
  lo_runs=$(( runs < 3 ? runs : 3 ))
  wanted libreoffice && row "libreoffice --convert-to" $(measure "$lo_runs" "soffice '-env:UserInstallation=file://$out/lo' --headless --norestore --convert-to csv --outdir '$out' '$xls'")
done
print_load_after
