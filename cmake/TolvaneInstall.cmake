# Install rules, the CMake package that lets other projects find Tolvane, and
# the .tar.gz and .deb packages made by cpack.
include(GNUInstallDirs)
include(CMakePackageConfigHelpers)

# The documentation folder is named after the package, as Debian wants it,
# unless the builder chose another one.
if(CMAKE_INSTALL_DOCDIR STREQUAL "${CMAKE_INSTALL_DATAROOTDIR}/doc/${PROJECT_NAME}")
  set(CMAKE_INSTALL_DOCDIR "${CMAKE_INSTALL_DATAROOTDIR}/doc/tolvane")
endif()
# The packages' contact, also the Maintainer of the .deb. The default is a
# placeholder: whoever publishes a package sets a real address.
set(TOLVANE_PACKAGE_CONTACT "The Tolvane developers <tolvane@example.org>" CACHE STRING
    "Name <address> of whoever maintains the packages")

install(TARGETS Tolvane tolvane-dump EXPORT TolvaneTargets
        RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})

# The copyright file in the machine-readable form Debian reads, with the
# license text of LICENSE; the changelog likewise.
set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS
  ${PROJECT_SOURCE_DIR}/LICENSE ${PROJECT_SOURCE_DIR}/cmake/debian/copyright.in
  ${PROJECT_SOURCE_DIR}/cmake/debian/changelog.in)
file(READ ${PROJECT_SOURCE_DIR}/LICENSE license)
if(NOT license MATCHES "\nCopyright \\(c\\) ([^\n]+)\n\n(.+[^\n])\n*$")
  message(FATAL_ERROR "LICENSE: no \"Copyright (c) ...\" line followed by the license text")
endif()
set(TOLVANE_COPYRIGHT "${CMAKE_MATCH_1}")
# Each line indented by one blank, an empty line written as " .".
string(REPLACE "\n\n" "\n.\n" TOLVANE_LICENSE_TEXT "${CMAKE_MATCH_2}")
string(REPLACE "\n" "\n " TOLVANE_LICENSE_TEXT " ${TOLVANE_LICENSE_TEXT}")
set(doc_build_dir ${CMAKE_CURRENT_BINARY_DIR}/doc)
configure_file(cmake/debian/copyright.in ${doc_build_dir}/copyright @ONLY)
configure_file(cmake/debian/changelog.in ${doc_build_dir}/changelog @ONLY)

# Manual pages and the changelog compressed as Debian requires: gzip -9n, so
# that the bytes depend on the content alone (no name, no time).
find_program(TOLVANE_GZIP gzip)
set(man_pages ${PROJECT_SOURCE_DIR}/man/Tolvane.1 ${PROJECT_SOURCE_DIR}/man/tolvane-dump.1)
# Built only where libgettextpo and expat are (Linux).
if(TARGET tolvane-translate)
  install(TARGETS tolvane-translate EXPORT TolvaneTargets
          RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
  list(APPEND man_pages ${PROJECT_SOURCE_DIR}/man/tolvane-translate.1)
endif()
set(changelog ${doc_build_dir}/changelog)
if(TOLVANE_GZIP)
  set(compressed)
  foreach(file IN LISTS man_pages changelog)
    cmake_path(GET file FILENAME name)
    set(copy ${doc_build_dir}/gz/${name})
    add_custom_command(OUTPUT ${copy}.gz
      COMMAND ${CMAKE_COMMAND} -E copy ${file} ${copy}
      COMMAND ${TOLVANE_GZIP} -9nf ${copy}
      DEPENDS ${file}
      COMMENT "Compressing ${name}"
      VERBATIM)
    list(APPEND compressed ${copy}.gz)
  endforeach()
  add_custom_target(tolvane_docs ALL DEPENDS ${compressed})
  list(TRANSFORM man_pages REPLACE "^.*/" "${doc_build_dir}/gz/")
  list(TRANSFORM man_pages APPEND .gz)
  set(changelog ${doc_build_dir}/gz/changelog.gz)
else()
  message(STATUS "No gzip: the manual pages and the changelog are installed uncompressed")
  add_custom_target(tolvane_docs)
endif()
install(FILES ${man_pages} DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
install(FILES README.md docs/msg-format.md ${doc_build_dir}/copyright ${changelog}
        DESTINATION ${CMAKE_INSTALL_DOCDIR})

set(TOLVANE_CMAKE_DIR ${CMAKE_INSTALL_LIBDIR}/cmake/Tolvane)
install(EXPORT TolvaneTargets NAMESPACE Tolvane:: DESTINATION ${TOLVANE_CMAKE_DIR})
configure_package_config_file(cmake/TolvaneConfig.cmake.in
  ${CMAKE_CURRENT_BINARY_DIR}/TolvaneConfig.cmake
  INSTALL_DESTINATION ${TOLVANE_CMAKE_DIR})
# Tools only: the package suits any architecture a project may target.
write_basic_package_version_file(${CMAKE_CURRENT_BINARY_DIR}/TolvaneConfigVersion.cmake
  COMPATIBILITY SameMajorVersion ARCH_INDEPENDENT)
install(FILES
  ${CMAKE_CURRENT_BINARY_DIR}/TolvaneConfig.cmake
  ${CMAKE_CURRENT_BINARY_DIR}/TolvaneConfigVersion.cmake
  cmake/TolvaneCatalogue.cmake
  cmake/TolvaneBuildCatalogue.cmake
  DESTINATION ${TOLVANE_CMAKE_DIR})

set(CPACK_PACKAGE_NAME tolvane)
set(CPACK_PACKAGE_VENDOR "The Tolvane developers")
set(CPACK_PACKAGE_CONTACT "${TOLVANE_PACKAGE_CONTACT}")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY
    "Compiles message sources into MSG catalogues; inspects catalogues")
# Lines of at most 80 characters, as the .deb's control file wants them.
string(JOIN "\n" CPACK_PACKAGE_DESCRIPTION
  "Tolvane compiles a hand-written message source (a C header of #message"
  "lines) into a binary MSG catalogue that holds one message table per"
  "language, and keeps a generated names header of #define lines in step with"
  "it. A failed or interrupted run never loses the previous catalogue or names"
  "header."
  ""
  "tolvane-dump shows, checks and decompiles catalogues. The package also holds"
  "a CMake package with tolvane_add_catalogue(), which builds a catalogue as"
  "part of a project's build.")
if(TARGET tolvane-translate)
  string(APPEND CPACK_PACKAGE_DESCRIPTION "\n\n" [[
tolvane-translate exports message sources to PO and XLIFF files for
translators, and imports their translations back as message sources.]])
endif()
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_GENERATOR TGZ DEB)
set(CPACK_SOURCE_GENERATOR "")
set(CPACK_PACKAGE_FILE_NAME tolvane-${PROJECT_VERSION}-${CMAKE_SYSTEM_NAME})
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION devel)
# The .deb's run-time dependencies (the C++ library) come from the programs
# themselves where the Debian tools that read them are installed.
find_program(TOLVANE_DPKG_SHLIBDEPS dpkg-shlibdeps)
if(TOLVANE_DPKG_SHLIBDEPS)
  set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
endif()
# Packages carry the programs without their debugging information.
set(CPACK_STRIP_FILES ON)
include(CPack)

# The package as a user meets it: installed into a staging prefix, then the
# downstream example built against it with Ninja and with Make (on the build
# machine, where the installed tool can run).
if(TOLVANE_TESTS AND NOT CMAKE_CROSSCOMPILING)
  add_test(NAME install_and_downstream
    COMMAND bash ${PROJECT_SOURCE_DIR}/cmake/install_test.sh --build-dir ${PROJECT_BINARY_DIR}
            --no-build)
  set_tests_properties(install_and_downstream PROPERTIES SKIP_RETURN_CODE 77 TIMEOUT 600)
endif()
