#!/usr/bin/env bash
# Installs what is needed, builds with warnings as errors, and runs every
# test; then builds the ASan+UBSan configuration and runs every test again,
# and the worker and dialog tests under ThreadSanitizer.
# Set TABROOK_SKIP_SANITIZERS=1 to run only the first pass.
set -euo pipefail
cd "$(dirname "$0")/.."
tools/setup.sh
jobs=$(nproc)
cmake --preset ci >/dev/null
cmake --build --preset ci -j"$jobs"
ctest --preset ci -j"$jobs"
if [ "${TABROOK_SKIP_SANITIZERS:-0}" != 1 ]; then
  cmake --preset dev >/dev/null
  cmake --build --preset dev -j"$jobs"
  ctest --preset dev -j"$jobs"
  # The worker and the dialog under ThreadSanitizer.
  cmake --preset tsan >/dev/null
  cmake --build --preset tsan -j"$jobs"
  ctest --preset tsan -j"$jobs"
fi
