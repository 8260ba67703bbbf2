#!/usr/bin/env bash
# Builds the packages into dist/: the Debian package (checked with lintian) and, when the Windows
# build folder exists (scripts/test-windows.sh), the Windows zip. Run as root on Debian 12.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/deps.sh
jobs=$(nproc)
mkdir -p dist

cmake -S . -B build-pkg -G Ninja -DCMAKE_BUILD_TYPE=Release -DCMAKE_INSTALL_PREFIX=/usr \
  -DEM_BUILD_BENCH=OFF >/dev/null
cmake --build build-pkg -j"$jobs" --target em_tarnel emhost em_record em_man_page em_changelog
(cd build-pkg && cpack -G DEB >/dev/null)
cp build-pkg/em-tarnel_*.deb dist/
lintian --fail-on error --suppress-tags maintscript-calls-ldconfig dist/em-tarnel_*.deb
echo "Debian package: $(ls dist/em-tarnel_*.deb)"

if [ -f build-win/CMakeCache.txt ]; then
  cmake --build build-win -j"$jobs" --target em_tarnel emhost
  (cd build-win && cpack -G ZIP >/dev/null)
  cp build-win/em_tarnel-*-win64.zip dist/
  echo "Windows zip: $(ls dist/em_tarnel-*-win64.zip)"
fi
