#!/usr/bin/env bash
# Installs the Debian packages the build needs, when any is missing (run as root).
#   bash scripts/deps.sh            the Linux build's packages
#   bash scripts/deps.sh PKG...     these packages instead
set -euo pipefail
pkgs=(cmake ninja-build g++ clang libclang-rt-14-dev rapidjson-dev googletest libgtest-dev
      libbenchmark-dev libpugixml-dev libreadline-dev python3 lintian)
[ $# -gt 0 ] && pkgs=("$@")
missing=()
for p in "${pkgs[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
if [ ${#missing[@]} -gt 0 ]; then
  echo "Installing: ${missing[*]}"
  export DEBIAN_FRONTEND=noninteractive
  apt-get update -qq
  apt-get install -y -qq --no-install-recommends "${missing[@]}"
fi
