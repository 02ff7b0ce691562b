#!/usr/bin/env bash
# Installs what is needed, builds tabrook and the Excel ODBC driver, and runs
# tabrook. Without arguments it converts the bundled sample workbook to
# out/sales.csv and shows the result; with arguments it passes them to
# tabrook (a batch run: see README.md).
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
cd "$top"
tools/setup.sh
cmake --preset default >/dev/null
cmake --build --preset default -j"$(nproc)" --target tabrook tabrook_dialog xlsodbc >/dev/null
# The build tree's own driver registration; an installed tabrook finds the
# system-wide one instead.
export ODBCSYSINI="$top/build/default/etc"
if [ $# -gt 0 ]; then
  exec "$top/build/default/app/tabrook" "$@"
fi
mkdir -p out
rm -f out/sales.csv
status=0
"$top/build/default/app/tabrook" samples/sales.xls out/sales.csv Sheet1 UTF-8 , Unix || status=$?
echo "tabrook samples/sales.xls out/sales.csv Sheet1 UTF-8 , Unix  -> exit status $status"
if [ -f out/sales.csv ]; then
  echo "--- out/sales.csv"
  cat out/sales.csv
fi
if [ -f out/DravikErrlog.txt ]; then
  echo "--- out/DravikErrlog.txt"
  cat out/DravikErrlog.txt
fi
exit "$status"
