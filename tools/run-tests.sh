#!/usr/bin/env bash
# Installs what is needed, checks the sources' layout (clang-format), builds
# with warnings as errors, runs every test and checks the Debian packages
# (tools/check-packages.sh); builds with clang, runs every test and
# clang-tidy; then builds the ASan+UBSan configuration and runs every test
# again, and the worker and dialog tests under ThreadSanitizer.
# Set TABROOK_SKIP_SANITIZERS=1 to skip the last two.
set -euo pipefail
cd "$(dirname "$0")/.."
tools/setup.sh
jobs=$(nproc)
# Every C and C++ source laid out as the committed .clang-format says.
git ls-files -z -- '*.c' '*.cpp' '*.h' | xargs -0 clang-format --dry-run --Werror
cmake --preset ci >/dev/null
cmake --build --preset ci -j"$jobs"
ctest --preset ci -j"$jobs"
# The Debian packages: built, checked with lintian, unpacked and run.
tools/check-packages.sh
# The same tree built by clang (warnings as errors) and tested; then
# clang-tidy (the committed .clang-tidy, findings are errors) over every
# source of the tree, on that build's compile commands.
cmake --preset clang >/dev/null
cmake --build --preset clang -j"$jobs"
ctest --preset clang -j"$jobs"
run-clang-tidy -p build/clang -j"$jobs" -quiet "^(?!$PWD/build/)" >build/clang/tidy.log 2>&1 ||
  { sed 's/\x1b\[[0-9;]*m//g' build/clang/tidy.log | grep -E -A3 'error:'; exit 1; }
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
