# Cross build for 64-bit Windows with the mingw-w64 toolchain (posix thread model).
#   cmake -S . -B build-win -G Ninja -DCMAKE_TOOLCHAIN_FILE=cmake/toolchain-mingw64.cmake
# Programs run under Wine: ctest starts every test executable through the emulator.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)
set(EM_MINGW_PREFIX x86_64-w64-mingw32)

set(CMAKE_C_COMPILER ${EM_MINGW_PREFIX}-gcc-posix)
set(CMAKE_CXX_COMPILER ${EM_MINGW_PREFIX}-g++-posix)
set(CMAKE_RC_COMPILER ${EM_MINGW_PREFIX}-windres)
set(CMAKE_OBJDUMP ${EM_MINGW_PREFIX}-objdump)

set(CMAKE_FIND_ROOT_PATH /usr/${EM_MINGW_PREFIX})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

find_program(EM_WINE NAMES wine wine64)
if(EM_WINE)
  set(CMAKE_CROSSCOMPILING_EMULATOR ${EM_WINE})
endif()
