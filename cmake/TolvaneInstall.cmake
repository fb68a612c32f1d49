# Install rules, the CMake package that lets other projects find Tolvane, and
# the .tar.gz and .deb packages made by cpack.
include(GNUInstallDirs)
include(CMakePackageConfigHelpers)

install(TARGETS Tolvane tolvane-dump EXPORT TolvaneTargets
        RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
install(FILES man/Tolvane.1 man/tolvane-dump.1 DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
install(FILES docs/msg-format.md DESTINATION ${CMAKE_INSTALL_DOCDIR})
# Built only where libgettextpo and expat are (Linux).
if(TARGET tolvane-translate)
  install(TARGETS tolvane-translate EXPORT TolvaneTargets
          RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
  install(FILES man/tolvane-translate.1 DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
endif()

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
set(CPACK_PACKAGE_VENDOR "Tolvane developers")
set(CPACK_PACKAGE_CONTACT "Tolvane developers <tolvane@localhost>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY
    "Compiles message sources into MSG catalogues; inspects catalogues")
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
