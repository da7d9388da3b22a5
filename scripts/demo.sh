#!/usr/bin/env bash
# The main job: build, make a VK101 package, and upgrade a simulated "VK101 Power Controller"
# on the virtual-time bench, printing the stage and percentage as it goes.
set -euo pipefail
cd "$(dirname "$0")/.."
cmake --preset default >/dev/null
cmake --build --preset default -j 2 --target rovenza-cli make-fwu
out=build/default/demo
mkdir -p "$out"
build/default/tools/make-fwu --demo vk101 "$out/vk101.fwu"
build/default/src/cli/rovenza-cli --simulate --speed 10 --bench-dump "$out/bench" \
  "\\D" "VK101 Power Controller" "\\F" "$out/vk101.fwu" "\\U"
echo "bench dump: $out/bench"
