#!/usr/bin/env bash
# Installs the Debian packages Rovenza builds with (needs root, or sudo). fonts-wine brings
# Wine's Tahoma, the font the window is laid out in (the program loads it from Wine's folder).
# clang with its sanitizer and libFuzzer runtimes (libclang-rt-14-dev) builds the fuzz targets;
# llvm brings llvm-symbolizer for readable sanitizer reports. librsvg2-bin's rsvg-convert draws the
# icon's PNG sizes from its SVG.
set -euo pipefail
bash "$(dirname "$0")/apt-install.sh" build-essential cmake ninja-build pkg-config qt6-base-dev libzip-dev \
  zlib1g-dev libgtest-dev libgmock-dev libbenchmark-dev nlohmann-json3-dev fonts-wine \
  clang libclang-rt-14-dev llvm librsvg2-bin
