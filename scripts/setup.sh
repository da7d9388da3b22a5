#!/usr/bin/env bash
# Installs the Debian packages Rovenza builds with (needs root, or sudo).
set -euo pipefail
packages=(build-essential cmake ninja-build pkg-config qt6-base-dev libzip-dev zlib1g-dev
          libgtest-dev libgmock-dev libbenchmark-dev nlohmann-json3-dev)
missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
if ((${#missing[@]})); then
  SUDO=""; [ "$(id -u)" -eq 0 ] || SUDO="sudo"
  $SUDO apt-get update -q
  DEBIAN_FRONTEND=noninteractive $SUDO apt-get install -y -q --no-install-recommends "${missing[@]}"
fi
