#!/usr/bin/env bash
# Installs what is missing, builds the module and the substitute host, and runs the demo.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/deps.sh
cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build build --target emhost em_tarnel -j"$(nproc)"
exec build/emhost demo "$@"
