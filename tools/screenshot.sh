#!/usr/bin/env bash
# Takes docs/dialog.png: the dialog after a finished conversion of the
# bundled sample, on a virtual X display (Xvfb) with Qt's real X11 platform.
# TABROOK_BUILD names an existing build tree to use (default: builds the
# "default" preset).
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
cd "$top"
tools/setup.sh
build=${TABROOK_BUILD:-}
if [ -z "$build" ]; then
  cmake --preset default >/dev/null
  cmake --build --preset default -j"$(nproc)" --target dialog_screenshot xlsodbc >/dev/null
  build="$top/build/default"
fi
demo=$(mktemp -d /tmp/tabrook-demo.XXXX)
trap 'rm -rf "$demo"' EXIT
cp samples/sales.xls "$demo/sales.xls"
mkdir -p docs
unset QT_QPA_PLATFORM
ODBCSYSINI="$build/etc" xvfb-run -a -s "-screen 0 1024x768x24" \
  "$build/tests/ui/dialog_screenshot" "$demo/sales.xls" docs/dialog.png
echo "docs/dialog.png written"
