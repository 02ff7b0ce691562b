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
source "$top/bench/compare_common.sh"
xlsx=bench/cache/wide.xlsx

have() { command -v "$1" >/dev/null; }

print_machine
table_header "$xlsx"
read -r base basemem basecpu < <(measure "$runs" "$tabrook '$xlsx' '$out/t.csv' wide UTF-8 , Unix")
row "unzip -p (inflate floor)" $(measure "$runs" "unzip -p '$xlsx' > /dev/null")
row "tabrook" "$base" "$basemem" "$basecpu"
slow=$(( runs < 3 ? runs : 3 ))
have orcus-xlsx && row "orcus-xlsx -f csv" $(measure "$runs" "mkdir -p '$out/orcus' && orcus-xlsx -f csv -o '$out/orcus' '$xlsx' >/dev/null 2>&1 || true")
have xlsx2csv && row "xlsx2csv" $(measure "$slow" "xlsx2csv '$xlsx' '$out/x.csv'")
have ssconvert && row "ssconvert (gnumeric)" $(measure "$slow" "ssconvert '$xlsx' '$out/s.csv' 2>/dev/null")
have soffice && row "libreoffice --convert-to" $(measure "$slow" "soffice '-env:UserInstallation=file://$out/lo' --headless --norestore --convert-to csv --outdir '$out' '$xlsx' >/dev/null")
print_load_after
