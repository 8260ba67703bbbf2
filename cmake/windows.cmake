# Windows build (mingw-w64 cross toolchain): what differs from the Linux build.

# Every program and the DLL carry their own copy of the compiler's runtime (libgcc, libstdc++,
# winpthread), so the DLL runs in a host process that ships none of them.
enable_language(RC)
add_link_options(-static -static-libgcc -static-libstdc++)
# The version API and the process counters live in import libraries of their own.
link_libraries(version psapi)
add_compile_definitions(UNICODE _UNICODE WIN32_LEAN_AND_MEAN NOMINMAX _WIN32_WINNT=0x0601)
# The C runtime's reentrant time conversions (gmtime_r, localtime_r) of the host tool.
add_compile_definitions(_POSIX_THREAD_SAFE_FUNCTIONS)

# The JSON library is header-only: its Debian headers are used, but not the rest of /usr/include.
set(EM_RAPIDJSON_DIR /usr/include/rapidjson)
if(NOT EXISTS ${EM_RAPIDJSON_DIR}/document.h)
  message(FATAL_ERROR "rapidjson-dev is required")
endif()
file(MAKE_DIRECTORY ${CMAKE_BINARY_DIR}/third_party/include)
file(CREATE_LINK ${EM_RAPIDJSON_DIR} ${CMAKE_BINARY_DIR}/third_party/include/rapidjson SYMBOLIC)
include_directories(SYSTEM ${CMAKE_BINARY_DIR}/third_party/include)

# GoogleTest from Debian's source package, built with this toolchain.
set(EM_GTEST_SOURCE /usr/src/googletest CACHE PATH "GoogleTest source tree")
set(BUILD_GMOCK OFF CACHE BOOL "" FORCE)
set(INSTALL_GTEST OFF CACHE BOOL "" FORCE)
set(gtest_disable_pthreads OFF CACHE BOOL "" FORCE)
add_subdirectory(${EM_GTEST_SOURCE} ${CMAKE_BINARY_DIR}/googletest EXCLUDE_FROM_ALL SYSTEM)

# The DLL: no "lib" prefix, exactly the four exports of the .def file, undecorated.
function(em_windows_library target)
  set_target_properties(${target} PROPERTIES PREFIX "" IMPORT_PREFIX "")
  target_sources(${target} PRIVATE ${CMAKE_SOURCE_DIR}/module/exports.def)
  target_link_options(${target} PRIVATE -Wl,--kill-at)
endfunction()

# Test executables under Wine: one ctest test per executable (one Wine start per program, not
# per test case), split into shards so that both processors work.
set(EM_WINE_TEST_SHARDS 2 CACHE STRING "Shards per test executable under Wine")
function(em_add_wine_tests target)
  math(EXPR last "${EM_WINE_TEST_SHARDS} - 1")
  foreach(i RANGE 0 ${last})
    add_test(NAME ${target}_shard${i} COMMAND ${target})
    set_tests_properties(${target}_shard${i} PROPERTIES
      ENVIRONMENT "GTEST_TOTAL_SHARDS=${EM_WINE_TEST_SHARDS};GTEST_SHARD_INDEX=${i}" ${ARGN})
  endforeach()
endfunction()
