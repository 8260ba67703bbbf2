# Installation and packages.
#
# Linux, under the prefix:
#   lib/em_tarnel/     libem_tarnel.so, emhost and the message files beside it (the module looks for
#                      its message files in the directory of the process's executable first)
#   bin/emhost         a link to lib/em_tarnel/emhost
#   share/em_tarnel/   scenarios; share/doc/em-tarnel/ the documentation; share/man/man1/emhost.1.gz
#   <sysconfdir>/em_tarnel/registry.reg   the example settings (every one switched off)
#   include/em_tarnel/ and lib/cmake/em_tarnel/   what a host writer builds against
# Windows: em_tarnel.dll, emhost.exe and the message files side by side in bin/, em_tarnel.reg to
# import, the scenarios and the documentation.
include(GNUInstallDirs)

set(EM_MESSAGE_FILES ${CMAKE_SOURCE_DIR}/data/messages/ERRMSG.XML ${CMAKE_SOURCE_DIR}/data/messages/EVENTMSG.XML)
set(EM_DOC_FILES README.md docs/ARCHITECTURE.md docs/BEHAVIOUR.md docs/SCENARIOS.md docs/TRACING.md
    docs/HOSTS.md docs/example-host.cpp)
set(EM_HOST_HEADERS module/host_interface.h module/sip_record.h module/extension_module.h module/exports.h
    platform/heap.h)

if(WIN32)
  set(EM_PRIVATE_DIR ${CMAKE_INSTALL_BINDIR})
  set(EM_DOC_DIR ${CMAKE_INSTALL_DATAROOTDIR}/doc/em_tarnel)
  install(TARGETS em_tarnel RUNTIME DESTINATION ${EM_PRIVATE_DIR} LIBRARY DESTINATION ${EM_PRIVATE_DIR})
  install(TARGETS emhost RUNTIME DESTINATION ${EM_PRIVATE_DIR})
  install(FILES data/install/registry.reg DESTINATION . RENAME em_tarnel.reg)
else()
  set(EM_PRIVATE_DIR lib/em_tarnel)
  set(EM_DOC_DIR ${CMAKE_INSTALL_DATAROOTDIR}/doc/em-tarnel)
  install(TARGETS em_tarnel LIBRARY DESTINATION ${EM_PRIVATE_DIR})
  install(TARGETS emhost RUNTIME DESTINATION ${EM_PRIVATE_DIR})
  file(MAKE_DIRECTORY ${CMAKE_BINARY_DIR}/install-links)
  file(CREATE_LINK ../${EM_PRIVATE_DIR}/emhost ${CMAKE_BINARY_DIR}/install-links/emhost SYMBOLIC)
  install(FILES ${CMAKE_BINARY_DIR}/install-links/emhost DESTINATION ${CMAKE_INSTALL_BINDIR})
  # /etc for a system install, <prefix>/etc otherwise
  if(CMAKE_INSTALL_PREFIX STREQUAL "/usr")
    set(EM_SYSCONF_DIR ${CMAKE_INSTALL_FULL_SYSCONFDIR}/em_tarnel)
  else()
    set(EM_SYSCONF_DIR ${CMAKE_INSTALL_SYSCONFDIR}/em_tarnel)
  endif()
  install(FILES data/install/registry.reg DESTINATION ${EM_SYSCONF_DIR})
  install(FILES data/install/copyright DESTINATION ${EM_DOC_DIR})
  set(EM_CHANGELOG ${CMAKE_BINARY_DIR}/changelog.gz)
  add_custom_command(OUTPUT ${EM_CHANGELOG}
    COMMAND sh -c "gzip -9nc ${CMAKE_SOURCE_DIR}/data/install/changelog > ${EM_CHANGELOG}"
    DEPENDS ${CMAKE_SOURCE_DIR}/data/install/changelog VERBATIM)
  add_custom_target(em_changelog ALL DEPENDS ${EM_CHANGELOG})
  install(FILES ${EM_CHANGELOG} DESTINATION ${EM_DOC_DIR})

  # The manual page, made from the tool's own help text.
  set(EM_MAN_PAGE ${CMAKE_BINARY_DIR}/emhost.1.gz)
  add_custom_command(
    OUTPUT ${EM_MAN_PAGE}
    COMMAND ${CMAKE_COMMAND} -DEMHOST=$<TARGET_FILE:emhost> -DVERSION=${PROJECT_VERSION}
            -DOUT=${CMAKE_BINARY_DIR}/emhost.1 -P ${CMAKE_SOURCE_DIR}/cmake/man_page.cmake
    COMMAND gzip -9nf ${CMAKE_BINARY_DIR}/emhost.1
    DEPENDS emhost ${CMAKE_SOURCE_DIR}/cmake/man_page.cmake
    COMMENT "Manual page of emhost"
    VERBATIM)
  add_custom_target(em_man_page ALL DEPENDS ${EM_MAN_PAGE})
  install(FILES ${EM_MAN_PAGE} DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
endif()
install(FILES ${EM_MESSAGE_FILES} DESTINATION ${EM_PRIVATE_DIR})
install(DIRECTORY scenarios/ DESTINATION ${CMAKE_INSTALL_DATAROOTDIR}/em_tarnel/scenarios FILES_MATCHING PATTERN "*.json")
foreach(doc ${EM_DOC_FILES})
  if(EXISTS ${CMAKE_SOURCE_DIR}/${doc})
    install(FILES ${doc} DESTINATION ${EM_DOC_DIR})
  endif()
endforeach()

# ---- for host writers: the headers and the record class -------------------------------------------
# A host builds and reads request records itself; the record class with its allocator is the one
# piece of code it shares with the module.
if(WIN32)
  file(GLOB EM_RECORD_HEAP_SOURCE ${CMAKE_SOURCE_DIR}/platform/win32/heap_*.cpp)
else()
  file(GLOB EM_RECORD_HEAP_SOURCE ${CMAKE_SOURCE_DIR}/platform/posix/heap_*.cpp)
endif()
add_library(em_record STATIC module/sip_record.cpp platform/utf8.cpp ${EM_RECORD_HEAP_SOURCE})
target_compile_definitions(em_record PUBLIC RAPIDJSON_HAS_STDSTRING=1)
target_include_directories(em_record PUBLIC $<BUILD_INTERFACE:${CMAKE_SOURCE_DIR}>
                           $<INSTALL_INTERFACE:${CMAKE_INSTALL_INCLUDEDIR}/em_tarnel>)
set_target_properties(em_record PROPERTIES OUTPUT_NAME em_tarnel_record EXPORT_NAME record)
foreach(header ${EM_HOST_HEADERS})
  get_filename_component(dir ${header} DIRECTORY)
  install(FILES ${header} DESTINATION ${CMAKE_INSTALL_INCLUDEDIR}/em_tarnel/${dir})
endforeach()
if(WIN32)
  # A Windows host is built by another compiler: it gets the record's sources to build with its
  # own, not an archive of ours.
  foreach(src module/sip_record.cpp platform/utf8.cpp platform/codepage.h platform/win32/win32_util.h
              ${EM_RECORD_HEAP_SOURCE})
    get_filename_component(src ${src} ABSOLUTE BASE_DIR ${CMAKE_SOURCE_DIR})
    file(RELATIVE_PATH rel ${CMAKE_SOURCE_DIR} ${src})
    get_filename_component(dir ${rel} DIRECTORY)
    install(FILES ${src} DESTINATION src/em_tarnel_record/${dir})
  endforeach()
else()
  install(TARGETS em_record EXPORT em_tarnel_targets ARCHIVE DESTINATION ${CMAKE_INSTALL_LIBDIR})
  install(EXPORT em_tarnel_targets NAMESPACE em_tarnel:: DESTINATION ${CMAKE_INSTALL_LIBDIR}/cmake/em_tarnel)
  include(CMakePackageConfigHelpers)
  configure_package_config_file(cmake/em_tarnelConfig.cmake.in ${CMAKE_BINARY_DIR}/em_tarnelConfig.cmake
    INSTALL_DESTINATION ${CMAKE_INSTALL_LIBDIR}/cmake/em_tarnel PATH_VARS EM_PRIVATE_DIR)
  write_basic_package_version_file(${CMAKE_BINARY_DIR}/em_tarnelConfigVersion.cmake COMPATIBILITY SameMajorVersion)
  install(FILES ${CMAKE_BINARY_DIR}/em_tarnelConfig.cmake ${CMAKE_BINARY_DIR}/em_tarnelConfigVersion.cmake
          DESTINATION ${CMAKE_INSTALL_LIBDIR}/cmake/em_tarnel)
endif()

# ---- packages ------------------------------------------------------------------------------------
set(CPACK_PACKAGE_NAME em-tarnel)
set(CPACK_PACKAGE_VENDOR "EM_TARNEL developers")
set(CPACK_PACKAGE_CONTACT "EM_TARNEL developers <em-tarnel@example.org>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "OID mapper extension module for a server-management agent")
set(CPACK_PACKAGE_DESCRIPTION "The module gives callers one global object numbering across the management
modules of a cabinet, broadcasts and merges multi-module configuration
requests, and serves the hardware message log as text in the caller's
language. The package holds the module library, its message files, the
substitute host emhost with its scenarios, and the example settings.")
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_STRIP_FILES ON)
if(WIN32)
  set(CPACK_GENERATOR ZIP)
  set(CPACK_PACKAGE_FILE_NAME em_tarnel-${PROJECT_VERSION}-win64)
else()
  set(CPACK_GENERATOR DEB)
  set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
  set(CPACK_DEBIAN_PACKAGE_SECTION admin)
  set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
  set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
  set(CPACK_DEBIAN_PACKAGE_SUGGESTS "rapidjson-dev")
  set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)
  file(WRITE ${CMAKE_BINARY_DIR}/deb/conffiles "/etc/em_tarnel/registry.reg\n")
  set(CPACK_DEBIAN_PACKAGE_CONTROL_EXTRA ${CMAKE_BINARY_DIR}/deb/conffiles)
endif()
include(CPack)

# The install tree works on its own: installed emhost, installed message files, a host built
# against the installed package.
if(NOT WIN32 AND NOT EM_SANITIZE AND NOT EM_ONLY_MT_TESTS)
  add_test(NAME InstallTree.DemoAndExampleHostRunFromThePrefix
           COMMAND ${CMAKE_COMMAND} -DBUILD_DIR=${CMAKE_BINARY_DIR} -DSOURCE_DIR=${CMAKE_SOURCE_DIR}
                   -DWORK=${CMAKE_BINARY_DIR}/install-check -P ${CMAKE_SOURCE_DIR}/tests/install_check.cmake)
endif()
