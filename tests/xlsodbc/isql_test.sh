#!/bin/sh
# Real-client test: unixODBC's isql and iusql read the fixture workbooks through
# the built driver, by DSN (DBQ in odbc.ini) and by connection string; then
# isql runs under valgrind, which must report no error.
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
# iusql through the wide functions: the catalogue, a sheet with non-ASCII
# text (iusql prints each UTF-16 unit's low byte, so "ü" and "ß" show as the
# Latin-1 bytes FC and DF) and dates, and an unknown table.
printf 'help\nselect * from [Sheet1$]\nselect * from [Nope$]\n' | iusql -v -b VelkorIsql > "$work/out" 2>&1 ||
    fail "iusql"
grep -q "| 'Bob''s Data\\$' *| SYSTEM TABLE" "$work/out" || fail "iusql help lists the sheets"
LC_ALL=C grep -aq "$(printf '| Gr\374\337e ')" "$work/out" || fail "iusql non-ASCII row"
grep -q '| 2024-02-29 13:45:00|' "$work/out" || fail "iusql date and time"
grep -q 'The table "Nope\$" does not exist' "$work/out" || fail "iusql unknown table"

# The same workbook saved as .xlsx, through the driver's second name.
echo 'select * from [Sheet1$]' |
    isql -v -b -k "DRIVER={Velkor Excel Driver (*.xls, *.xlsx, *.xlsm)};DBQ=$fixtures/lo_driver.xlsx" > "$work/out" 2>&1 ||
    fail "isql .xlsx"
grep -q '| Grüße 日本 😀 *| -12.5 *|' "$work/out" || fail "isql .xlsx non-ASCII row"
grep -q '| ink *| 12 *| 0.3 *| 2024-02-29 13:45:00 *|' "$work/out" || fail "isql .xlsx row"
grep -q '5 rows fetched' "$work/out" || fail "isql .xlsx row count"

echo "select * from ['My Sheet\$']" |
    isql -v -b -k "DRIVER={Velkor Excel Driver (*.xls)};DSN='';DBQ=$fixtures/lo_driver.xls" > "$work/out" 2>&1 ||
    fail "isql -k"
grep -q '| v1 *|' "$work/out" || fail "isql -k row"

echo 'select * from [Nope$]' | isql -v -b VelkorIsql > "$work/out" 2>&1 || true
grep -q 'S0002.*\[Velkor\]\[Excel Driver\]The table "Nope\$" does not exist' "$work/out" || fail "isql unknown table"

# The catalogue: "help" lists the tables in lines sized by their values.
echo 'help' | isql -v -b VelkorIsql > "$work/out" 2>&1 || fail "isql help"
grep -q "| 'Bob''s Data\$' *| SYSTEM TABLE" "$work/out" || fail "isql help lists the sheets"
[ "$(awk '{ if (length($0) > n) n = length($0) } END { print n }' "$work/out")" -lt 200 ] ||
    fail "isql help lines are too wide"
echo 'help Headers$' | isql -v -b VelkorIsql > "$work/out" 2>&1 || fail "isql help table"
grep -q '| Qty2 ' "$work/out" || fail "isql help table lists the columns"

# A 32,767-character cell comes out whole.
big="DRIVER={Velkor Excel Driver (*.xls)};DBQ=$fixtures/xlwt_driver.xls"
echo 'select * from [Values$]' | isql -v -b -L40000 -d'|' -k "$big" > "$work/out" 2>&1 || fail "isql long cell"
[ "$(awk -F'|' '$1 == "long" { print length($2) }' "$work/out")" = 32767 ] || fail "isql long cell length"

# isql under valgrind: catalogue, columns, a sheet, a long cell and an error.
printf 'help\nhelp Values$\nselect * from [Values$]\nselect * from [Nope$]\n' > "$work/run.sql"
valgrind -q --error-exitcode=99 --leak-check=no isql -b -v -L40000 -k "$big" < "$work/run.sql" > "$work/out" 2>&1 ||
    fail "isql under valgrind (exit $?)"
grep -q 'S0002' "$work/out" || fail "isql under valgrind did not run the statements"
echo "isql ok"
