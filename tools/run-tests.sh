#!/usr/bin/env bash
# Installs what is needed, builds with warnings as errors, runs every test
# and checks the Debian packages (tools/check-packages.sh); then builds the
# ASan+UBSan configuration and runs every test again, and the worker and
# dialog tests under ThreadSanitizer.
# Set TABROOK_SKIP_SANITIZERS=1 to run only the first pass.
set -euo pipefail
cd "$(dirname "$0")/.."
tools/setup.sh
jobs=$(nproc)
cmake --preset ci >/dev/null
cmake --build --preset ci -j"$jobs"
ctest --preset ci -j"$jobs"
# The Debian packages: built, checked with lintian, unpacked and run.
tools/check-packages.sh
if [ "${TABROOK_SKIP_SANITIZERS:-0}" != 1 ]; then
  cmake --preset dev >/dev/null
  cmake --build --preset dev -j"$jobs"
  ctest --preset dev -j"$jobs"
  # The worker and the dialog under ThreadSanitizer.
  cmake --preset tsan >/dev/null
  cmake --build --preset tsan -j"$jobs"
  ctest --preset tsan -j"$jobs"
  # The driver's threading tests under ThreadSanitizer: one connection used
  # from several threads, called directly and through unixODBC with its
  # threading off.
  cmake --build build/tsan -j"$jobs" --target xlsodbc_direct_tests xlsodbc_dm_tests
  TSAN_OPTIONS="halt_on_error=1:suppressions=$PWD/tests/tsan.supp" \
    ctest --test-dir build/tsan -R '^xlsodbc_(direct|dm)\..*Threads|^xlsodbc_dm_threading_off$' \
    --output-on-failure
fi
