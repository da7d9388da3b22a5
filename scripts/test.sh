#!/usr/bin/env bash
# Builds and runs the whole suite: the default build (and the full fault sweep), then the
# AddressSanitizer build, then the worker and timer tests under ThreadSanitizer.
set -euo pipefail
cd "$(dirname "$0")/.."
export QT_QPA_PLATFORM=offscreen
start=$(date +%s)
for preset in default asan tsan; do
  echo "=== $preset ==="
  cmake --preset "$preset" >/dev/null
  cmake --build --preset "$preset" -j 2
  ctest --preset "$preset"
  if [ "$preset" = default ]; then
    echo "=== the full fault sweep ==="
    ctest --preset sweep
  fi
done
echo "suite wall time: $(( $(date +%s) - start )) s"
