#!/usr/bin/env bash
# Builds the two Debian packages (tabrook, odbc-velkor-xls) into
# build/package/packages with Debian's hardening flags, and checks them:
# lintian; their control fields and file lists; that the driver's package
# links no Qt and no part of the program; then, unpacked into a temporary
# root, that the driver's maintainer scripts register it in a temporary
# ODBCSYSINI, that the unpacked tabrook converts the sample workbook and
# pyodbc reads it through the unpacked driver only, and that install,
# upgrade and removal keep odbcinst's usage count; and that `cmake --install`
# into a prefix registers and runs the same way.
# Needs no root: nothing is installed on the system.
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
cd "$top"
build=build/package
jobs=$(nproc)

# The build, with every hardening flag of Debian's (bind-now included).
# SOURCE_DATE_EPOCH dates the changelog and the man pages.
export DEB_BUILD_MAINT_OPTIONS=hardening=+all
SOURCE_DATE_EPOCH=$(git log -1 --format=%ct 2>/dev/null || date +%s)
export SOURCE_DATE_EPOCH
cppflags=$(dpkg-buildflags --get CPPFLAGS)
ldflags=$(dpkg-buildflags --get LDFLAGS)
cmake --preset package \
  -DCMAKE_C_FLAGS="$cppflags $(dpkg-buildflags --get CFLAGS)" \
  -DCMAKE_CXX_FLAGS="$cppflags $(dpkg-buildflags --get CXXFLAGS)" \
  -DCMAKE_EXE_LINKER_FLAGS="$ldflags" -DCMAKE_SHARED_LINKER_FLAGS="$ldflags" \
  -DCMAKE_MODULE_LINKER_FLAGS="$ldflags" >/dev/null
cmake --build --preset package -j"$jobs"
rm -rf "$build/packages"
(cd "$build" && cpack >/dev/null)

version=$(sed -n 's/^CMAKE_PROJECT_VERSION:STATIC=//p' "$build/CMakeCache.txt")
arch=$(dpkg --print-architecture)
multiarch=$(dpkg-architecture -qDEB_HOST_MULTIARCH)
prog="$build/packages/tabrook_${version}_${arch}.deb"
drv="$build/packages/odbc-velkor-xls_${version}_${arch}.deb"
name="Velkor Excel Driver (*.xls)"
name_xlsx="Velkor Excel Driver (*.xls, *.xlsx, *.xlsm)"
libdir="/usr/lib/$multiarch"
driver="$libdir/odbc/libvelkorxls.so"
template=/usr/share/odbc-velkor-xls/odbcinst.ini

tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT
failures=0
fail() {
  echo "check-packages: FAIL: $*" >&2
  failures=$((failures + 1))
}
expect_eq() {  # WHAT EXPECTED ACTUAL
  [ "$2" = "$3" ] || fail "$1: expected [$2], got [$3]"
}

echo "== lintian"
lintian --fail-on error,warning --display-info "$prog" "$drv" || fail "lintian"

echo "== control fields"
for deb in "$prog" "$drv"; do
  expect_eq "$(basename "$deb") version" "$version" "$(dpkg-deb -f "$deb" Version)"
done
prog_depends=$(dpkg-deb -f "$prog" Depends)
drv_depends=$(dpkg-deb -f "$drv" Depends)
echo "tabrook depends: $prog_depends"
echo "odbc-velkor-xls depends: $drv_depends"
# Computed from the binaries: the program's unixODBC and Qt, the driver's
# installer library; the program needs its driver, the scripts odbcinst,
# the decryption of encrypted workbooks libgcrypt (opened when needed).
for dep in "odbc-velkor-xls (= $version)" libodbc2 libodbcinst2 libqt6widgets6 libc6; do
  [[ ", $prog_depends," == *", $dep"[\ ,]* ]] || fail "tabrook does not depend on $dep"
done
for dep in odbcinst libgcrypt20 libodbcinst2 libc6; do
  [[ ", $drv_depends," == *", $dep"[\ ,]* ]] || fail "odbc-velkor-xls does not depend on $dep"
done
if grep -Eiq 'qt|tabrook|xcb' <<<"$drv_depends"; then
  fail "odbc-velkor-xls depends on Qt or the program: $drv_depends"
fi

echo "== file lists"
files_of() { dpkg-deb -c "$1" | awk '$1 !~ /^d/ { sub(/^\./, "", $6); print $6 }' | sort; }
files_of "$prog" >"$tmp/prog.files"
files_of "$drv" >"$tmp/drv.files"
sort >"$tmp/prog.expected" <<EOF
/usr/bin/tabrook
$libdir/tabrook/tabrook-dialog.so
/usr/share/applications/tabrook.desktop
/usr/share/doc/tabrook/changelog.gz
/usr/share/doc/tabrook/copyright
/usr/share/icons/hicolor/16x16/apps/tabrook.png
/usr/share/icons/hicolor/32x32/apps/tabrook.png
/usr/share/icons/hicolor/48x48/apps/tabrook.png
/usr/share/icons/hicolor/scalable/apps/tabrook.svg
/usr/share/man/man1/tabrook.1.gz
/usr/share/tabrook/tabrookhelp.htm
EOF
sort >"$tmp/drv.expected" <<EOF
$driver
/usr/share/doc/odbc-velkor-xls/README.md
/usr/share/doc/odbc-velkor-xls/changelog.gz
/usr/share/doc/odbc-velkor-xls/copyright
/usr/share/man/man7/velkor-xls.7.gz
$template
EOF
diff -u "$tmp/prog.expected" "$tmp/prog.files" || fail "files of tabrook"
diff -u "$tmp/drv.expected" "$tmp/drv.files" || fail "files of odbc-velkor-xls"
# Everything the install rules install is in one of the packages (an
# install rule without a package's component would be left out).
DESTDIR="$tmp/stage" cmake --install "$build" >/dev/null
(cd "$tmp/stage" && find . ! -type d | sed 's/^\.//' | sort) >"$tmp/stage.files"
sort -m "$tmp/prog.files" "$tmp/drv.files" | diff -u "$tmp/stage.files" - ||
  fail "the packages and cmake --install disagree"

echo "== unpack"
root="$tmp/root"
dpkg-deb -x "$prog" "$root"
dpkg-deb -x "$drv" "$root"
dpkg-deb -e "$drv" "$tmp/control"
grep -q "^Driver = $driver\$" "$root$template" || fail "the template does not name $driver"
[ -f "$root$driver" ] || fail "the template's library $driver is not in the package"

echo "== links"
# Every ELF file of the driver's package: no Qt, no xcb, nothing that the
# program's package ships, and every library found.
prog_names=$(xargs -n1 basename <"$tmp/prog.files")
while read -r f; do
  [ "$(head -c4 "$root$f" | od -An -c | tr -d ' ')" = '177ELF' ] || continue
  needed=$(objdump -p "$root$f" | awk '$1 == "NEEDED" { print $2 }')
  echo "$f needs: $(tr "\n" " " <<<"$needed")"
  for lib in $needed; do
    case "$lib" in libQt* | libxcb*) fail "$f needs $lib" ;; esac
    grep -qxF "$lib" <<<"$prog_names" && fail "$f needs the program's $lib"
  done
  resolved=$(env -u LD_LIBRARY_PATH ldd "$root$f")
  grep -Eq 'libQt|libxcb|not found' <<<"$resolved" && fail "$f resolves to: $resolved"
done <"$tmp/drv.files"
# A batch run never loads Qt: the program itself links none.
objdump -p "$root/usr/bin/tabrook" | grep -q 'NEEDED.*libQt' && fail "tabrook links Qt"

# The maintainer scripts run as dpkg runs them, with an odbcinst ahead on
# PATH that reads the package's template from the unpacked root and names
# the unpacked library in its place, and logs each call.
mkdir -p "$tmp/bin"
cat >"$tmp/bin/odbcinst" <<EOF
#!/bin/sh
echo "odbcinst \$*" >>"$tmp/odbcinst.log"
for a in "\$@"; do
  if [ "\$a" = "$template" ]; then
    sed 's|^Driver = |&$root|' "$root$template" >"$tmp/rooted-template.ini"
    a="$tmp/rooted-template.ini"
  fi
  set -- "\$@" "\$a"
  shift
done
exec /usr/bin/odbcinst "\$@"
EOF
chmod +x "$tmp/bin/odbcinst"
maintainer() {  # ODBCSYSINI SCRIPT ARGS...
  local sysini=$1 script=$2
  shift 2
  env -i PATH="$tmp/bin:/usr/bin:/bin" HOME="$tmp" ODBCSYSINI="$sysini" \
    "$tmp/control/$script" "$@" >/dev/null
}
entries() { grep -cxF "[$name]" "$1/odbcinst.ini" || true; }
usage_count() {
  awk -v s="[$name]" '$0 == s { on = 1; next } /^\[/ { on = 0 }
    on && sub(/^UsageCount *= */, "") { print }' "$1/odbcinst.ini"
}
state() { echo "$(entries "$1") $(usage_count "$1")"; }

# convert PROGRAM ODBCSYSINI: the sample's Sheet1 into UTF-8 text, compared
# with the expected text (which has no byte-order mark).
convert() {
  local status=0
  rm -f "$tmp/run/sales.csv" "$tmp/run/DravikErrlog.txt"
  (cd "$tmp/run" && env -i PATH=/usr/bin:/bin HOME="$tmp" LANG=C.UTF-8 ODBCSYSINI="$2" \
    "$1" sales.xls sales.csv Sheet1 UTF-8 , Unix) || status=$?
  expect_eq "$1: exit status" 0 "$status"
  [ ! -e "$tmp/run/DravikErrlog.txt" ] || fail "$1 logged: $(cat "$tmp/run/DravikErrlog.txt")"
  printf '\xef\xbb\xbf' | cat - tests/packaging/sales.csv | cmp - "$tmp/run/sales.csv" ||
    fail "$1: the output differs from tests/packaging/sales.csv"
}

echo "== registration, conversion and pyodbc through the unpacked files"
etc="$tmp/etc"
mkdir -p "$etc" "$tmp/run"
: >"$etc/odbcinst.ini"
maintainer "$etc" postinst configure ""
expect_eq "after install: entries and usage count" "1 1" "$(state "$etc")"
grep -qxF "Driver=$root$driver" "$etc/odbcinst.ini" || fail "registered driver is not the unpacked one"
cp samples/sales.xls "$tmp/run/"
convert "$root/usr/bin/tabrook" "$etc"
env -i PATH=/usr/bin:/bin HOME="$tmp" ODBCSYSINI="$etc" /usr/bin/python3 - \
  "$tmp/run/sales.xls" "$root$driver" "$version" tests/packaging/sales.csv <<'EOF' ||
import csv, sys
import pyodbc
book, driver, version, expected = sys.argv[1:]
conn = pyodbc.connect("DRIVER={Velkor Excel Driver (*.xls)};DSN='';DBQ=" + book)
with open("/proc/self/maps") as maps:
    assert driver in maps.read(), "the unpacked driver is not the one loaded"
want = ".".join(f"{int(p):0{w}d}" for p, w in zip(version.split("."), (2, 2, 4)))
assert conn.getinfo(pyodbc.SQL_DRIVER_VER) == want, conn.getinfo(pyodbc.SQL_DRIVER_VER)
cur = conn.cursor()
assert "Sheet1$" in [t.table_name for t in cur.tables()]
rows = cur.execute("select * from [Sheet1$]").fetchall()
got = [[c[0] for c in cur.description]] + [["" if v is None else v for v in r] for r in rows]
with open(expected, newline="") as f:
    assert got == list(csv.reader(f)), got
EOF
  fail "pyodbc through the unpacked driver"
# The dialog module is found beside the unpacked program: the dialog stays
# up (offscreen) until the timeout ends it, where a missing module ends the
# run at once with status 2.
status=0
env -i PATH=/usr/bin:/bin HOME="$tmp" QT_QPA_PLATFORM=offscreen ODBCSYSINI="$etc" \
  timeout 5 "$root/usr/bin/tabrook" 2>"$tmp/dialog.err" || status=$?
expect_eq "dialog run ended by the timeout" 124 "$status"

echo "== usage count"
# Install, upgrade, a second registration by something else, removal.
count="$tmp/count"
mkdir -p "$count"
: >"$count/odbcinst.ini"
maintainer "$count" postinst configure ""
expect_eq "install" "1 1" "$(state "$count")"
expect_eq "install registers the second name" 1 "$(grep -cxF "[$name_xlsx]" "$count/odbcinst.ini" || true)"
maintainer "$count" prerm upgrade "$version"
maintainer "$count" postinst configure "$version"
expect_eq "upgrade" "1 1" "$(state "$count")"
env ODBCSYSINI="$count" odbcinst -i -d -f "$tmp/rooted-template.ini" >/dev/null
expect_eq "second registration" "1 2" "$(state "$count")"
odbcinst_listed=$(env ODBCSYSINI="$count" odbcinst -q -d | grep -cxF "[$name]" || true)
expect_eq "odbcinst -q -d lists the driver" 1 "$odbcinst_listed"
maintainer "$count" prerm remove
expect_eq "removal while registered twice" "1 1" "$(state "$count")"
env ODBCSYSINI="$count" odbcinst -u -d -n "$name" >/dev/null
env ODBCSYSINI="$count" odbcinst -u -d -n "$name_xlsx" >/dev/null
expect_eq "last unregistration" "0 " "$(state "$count")"
# A removal that fails after prerm gives its count back (abort-remove).
maintainer "$count" postinst configure ""
maintainer "$count" prerm remove
expect_eq "removal" "0 " "$(state "$count")"
maintainer "$count" postinst abort-remove
expect_eq "aborted removal" "1 1" "$(state "$count")"
maintainer "$count" prerm remove
expect_eq "removal after the aborted one" "0 " "$(state "$count")"
expect_eq "removal unregisters the second name" 0 "$(grep -cxF "[$name_xlsx]" "$count/odbcinst.ini" || true)"

echo "== cmake --install into a prefix"
# The other way in: the install rules into a prefix of their own register
# the library installed there, and the installed program converts with it.
prefix="$tmp/prefix"
mkdir -p "$tmp/install-etc"
: >"$tmp/install-etc/odbcinst.ini"
ODBCSYSINI="$tmp/install-etc" cmake --install "$build" --prefix "$prefix" >/dev/null
expect_eq "cmake --install: entries and usage count" "1 1" "$(state "$tmp/install-etc")"
grep -qxF "Driver=$prefix/lib/$multiarch/odbc/libvelkorxls.so" "$tmp/install-etc/odbcinst.ini" ||
  fail "cmake --install registered another library: $(cat "$tmp/install-etc/odbcinst.ini")"
convert "$prefix/bin/tabrook" "$tmp/install-etc"

echo "== packages"
for deb in "$prog" "$drv"; do
  echo "$deb"
  dpkg-deb -c "$deb" | awk '{ print "  " $1, $3, $6 }'
done
if [ "$failures" -gt 0 ]; then
  echo "check-packages: $failures failure(s)" >&2
  exit 1
fi
echo "check-packages: both packages pass"
