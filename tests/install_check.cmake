# Installs the build into a scratch prefix and runs the installed tool and an example host from
# there: the installed emhost must load the installed library and find the installed message files
# with no environment variable, and a host built against the installed package must work.
#   cmake -DBUILD_DIR=... -DSOURCE_DIR=... -DWORK=... -P install_check.cmake
file(REMOVE_RECURSE ${WORK})
file(MAKE_DIRECTORY ${WORK}/elsewhere)
set(prefix ${WORK}/prefix)
execute_process(COMMAND ${CMAKE_COMMAND} --install ${BUILD_DIR} --prefix ${prefix} OUTPUT_QUIET RESULT_VARIABLE rc)
if(rc)
  message(FATAL_ERROR "install failed: ${rc}")
endif()

function(expect what text)
  string(FIND "${text}" "${what}" at)
  if(at EQUAL -1)
    message(FATAL_ERROR "expected \"${what}\" in:\n${text}")
  endif()
endfunction()

foreach(f bin/emhost lib/em_tarnel/libem_tarnel.so lib/em_tarnel/ERRMSG.XML lib/em_tarnel/EVENTMSG.XML
          etc/em_tarnel/registry.reg share/em_tarnel/scenarios/demo.json share/man/man1/emhost.1.gz
          include/em_tarnel/module/host_interface.h lib/cmake/em_tarnel/em_tarnelConfig.cmake)
  if(NOT EXISTS ${prefix}/${f})
    message(FATAL_ERROR "not installed: ${f}")
  endif()
endforeach()

# Run from a folder without message files, with no registry settings of the caller's.
execute_process(COMMAND ${CMAKE_COMMAND} -E env --unset=EM_TARNEL_REGISTRY ${prefix}/bin/emhost demo
                WORKING_DIRECTORY ${WORK}/elsewhere OUTPUT_VARIABLE out ERROR_VARIABLE err RESULT_VARIABLE rc)
if(rc)
  message(FATAL_ERROR "installed emhost demo failed (${rc}):\n${out}\n${err}")
endif()
expect("library   ${prefix}/lib/em_tarnel/libem_tarnel.so" "${out}")
expect("Fan redundancy lost in cabinet 0." "${out}")          # text from the installed ERRMSG.XML

# A host built against the installed headers and record library.
file(WRITE ${WORK}/example/CMakeLists.txt "cmake_minimum_required(VERSION 3.25)
project(example_host CXX)
set(CMAKE_CXX_STANDARD 20)
find_package(em_tarnel REQUIRED)
add_executable(example_host ${SOURCE_DIR}/docs/example-host.cpp)
target_link_libraries(example_host PRIVATE em_tarnel::record \${CMAKE_DL_LIBS})
")
execute_process(COMMAND ${CMAKE_COMMAND} -S ${WORK}/example -B ${WORK}/example/build -DCMAKE_PREFIX_PATH=${prefix}
                        -DCMAKE_BUILD_TYPE=Release OUTPUT_QUIET RESULT_VARIABLE rc)
if(NOT rc)
  execute_process(COMMAND ${CMAKE_COMMAND} --build ${WORK}/example/build OUTPUT_VARIABLE out RESULT_VARIABLE rc)
endif()
if(rc)
  message(FATAL_ERROR "the example host does not build against the installed package:\n${out}")
endif()
execute_process(COMMAND ${WORK}/example/build/example_host ${prefix}/lib/em_tarnel/libem_tarnel.so
                WORKING_DIRECTORY ${WORK}/elsewhere OUTPUT_VARIABLE out RESULT_VARIABLE rc)
if(rc)
  message(FATAL_ERROR "the example host failed (${rc}):\n${out}")
endif()
expect("ST=0" "${out}")
file(REMOVE_RECURSE ${WORK})
