#!/bin/sh
# Real-client test: unixODBC's isql and iusql read a fixture workbook through
# the built driver, by DSN (DBQ in odbc.ini) and by connection string.
# usage: isql_test.sh <fixtures folder>   (ODBCSYSINI names the build's etc/)
set -eu
fixtures="$1"
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cat > "$work/odbc.ini" <<INI
[VelkorIsql]
Driver = Velkor Excel Driver (*.xls)
DBQ = $fixtures/lo_driver.xls
INI
export ODBCINI="$work/odbc.ini"
fail() { echo "FAIL: $1"; echo "--- output:"; cat "$work/out"; exit 1; }

echo 'select * from [Sheet1$]' | isql -v -b VelkorIsql > "$work/out" 2>&1 || fail "isql DSN"
grep -q '| Name *| Qty *| Price *| Day *| Note *|' "$work/out" || fail "isql header"
grep -q '| Grüße 日本 😀 *| -12.5 *|' "$work/out" || fail "isql non-ASCII row"
grep -q '| ink *| 12 *| 0.3 *| 2024-02-29 13:45:00 *|' "$work/out" || fail "isql row"
grep -q '5 rows fetched' "$work/out" || fail "isql row count"

echo "select * from [Bob's Data\$]" | iusql -v -b VelkorIsql > "$work/out" 2>&1 || fail "iusql DSN"
grep -q '| bob *|' "$work/out" || fail "iusql row"

echo "select * from ['My Sheet\$']" |
    isql -v -b -k "DRIVER={Velkor Excel Driver (*.xls)};DSN='';DBQ=$fixtures/lo_driver.xls" > "$work/out" 2>&1 ||
    fail "isql -k"
grep -q '| v1 *|' "$work/out" || fail "isql -k row"

echo 'select * from [Nope$]' | isql -v -b VelkorIsql > "$work/out" 2>&1 || true
grep -q 'S0002.*\[Velkor\]\[Excel Driver\]The table "Nope\$" does not exist' "$work/out" || fail "isql unknown table"
echo "isql ok"
