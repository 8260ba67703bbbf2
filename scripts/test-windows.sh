#!/usr/bin/env bash
# The Windows DLL, the tool and the whole test suite, cross-built with mingw-w64 and run under Wine.
#   bash scripts/test-windows.sh           build into build-win/ and run every test
# Installs what is missing (Debian, run as root). Needs no display: Wine runs console programs only.
set -euo pipefail
cd "$(dirname "$0")/.."
build=${EM_WIN_BUILD:-build-win}
jobs=$(nproc)

bash scripts/deps.sh cmake ninja-build g++-mingw-w64-x86-64-posix binutils-mingw-w64-x86-64 wine wine64 \
  googletest rapidjson-dev

launcher=()
command -v ccache >/dev/null && launcher=(-DCMAKE_CXX_COMPILER_LAUNCHER=ccache -DCMAKE_C_COMPILER_LAUNCHER=ccache)
cmake -S . -B "$build" -G Ninja -DCMAKE_TOOLCHAIN_FILE=cmake/toolchain-mingw64.cmake \
  -DCMAKE_BUILD_TYPE=RelWithDebInfo -DEM_BUILD_BENCH=OFF "${launcher[@]}" >/dev/null
cmake --build "$build" -j"$jobs"

# Exactly the four exports, undecorated.
exports=$(x86_64-w64-mingw32-objdump -p "$build/em_tarnel.dll" |
  sed -n '/\[Ordinal\/Name Pointer\] Table/,/^$/p' | awk '/^[[:space:]]*\[ *[0-9]+\]/ {print $NF}' | sort | tr '\n' ' ')
if [ "$exports" != "EM_Create EM_Delete EM_GetModuleName EM_SetupAction " ]; then
  echo "em_tarnel.dll exports: $exports" >&2
  exit 1
fi
# Nothing but system DLLs beside it.
if x86_64-w64-mingw32-objdump -p "$build/em_tarnel.dll" | grep 'DLL Name' | grep -Eiv 'kernel32|advapi32|msvcrt|version|user32|ntdll'; then
  echo "em_tarnel.dll needs further DLLs" >&2
  exit 1
fi

# A Wine prefix of the build's own: no display, no prompts for optional runtimes.
export WINEPREFIX=$PWD/$build/wineprefix
export WINEDEBUG=-all
export WINEDLLOVERRIDES="mscoree,mshtml=;winemenubuilder.exe=d"
export DISPLAY=
if [ ! -f "$WINEPREFIX/system.reg" ]; then
  wineboot -i >/dev/null 2>&1 || true
  wineserver -w || true
fi
# The example trace settings in the machine's registry, read back through the system registry.
# Wine's importer drops the expandable string's text, so TraceFile is set once more by hand.
wine reg import 'docs\example-trace.reg' >/dev/null 2>&1
wine reg add 'HKLM\Software\Debug\EM_TARNEL' /v TraceFile /t REG_EXPAND_SZ /d '%HOME%/em_tarnel-trace.log' /f >/dev/null 2>&1
EM_SYSTEM_REGISTRY=1 wine "$build/tests/em_tests.exe" --gtest_filter='SystemRegistry.*' --gtest_brief=1
# Every other test starts from a registry without trace settings.
wine reg delete 'HKLM\Software\Debug' /f >/dev/null 2>&1

export CTEST_OUTPUT_ON_FAILURE=1
[ -n "${EM_WIN_GTEST_FILTER:-}" ] && export GTEST_FILTER=$EM_WIN_GTEST_FILTER
ctest --test-dir "$build" -j"$jobs" --timeout 900

# The tool's demo runs to its end.
(cd "$build" && wine emhost.exe demo >demo.out 2>&1) || { cat "$build/demo.out"; exit 1; }
wineserver -k || true
echo "Windows build: all tests passed"
