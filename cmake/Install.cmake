# What `cmake --install` puts where, the CMake package for host authors, and
# the Debian package that `cpack -G DEB` makes of it. The directories below
# the prefix are set with the plugin's (InstallDirs.cmake).
include(CMakePackageConfigHelpers)

# The installed plugin finds a Python library outside the system's own
# directories (pyenv's, say) through its run path; nothing installed points
# into the build tree.
list(FIND CMAKE_C_IMPLICIT_LINK_DIRECTORIES "${QORV_PYTHON_LIBDIR}" _system_directory)
if(_system_directory EQUAL -1)
  set_target_properties(qorv_python PROPERTIES INSTALL_RPATH "${QORV_PYTHON_LIBDIR}")
endif()

install(TARGETS qorv_python LIBRARY DESTINATION "${QORV_PLUGIN_INSTALL_DIR}")
install(TARGETS qorv-host RUNTIME DESTINATION "${QORV_BIN_INSTALL_DIR}")
install(FILES "${PROJECT_SOURCE_DIR}/include/qorv/plugin_base.h"
        DESTINATION "${QORV_INCLUDE_INSTALL_DIR}/qorv")
install(FILES "${PROJECT_SOURCE_DIR}/README.md" DESTINATION "${QORV_DOC_INSTALL_DIR}")
install(DIRECTORY "${PROJECT_SOURCE_DIR}/examples" DESTINATION "${QORV_DOC_INSTALL_DIR}")

# find_package(qorv_python) gives qorv_python::boundary: the boundary header's
# directory (and the dynamic loader a host needs), and qorv_python_PLUGIN,
# the installed plugin.
add_library(qorv_boundary INTERFACE)
target_include_directories(qorv_boundary INTERFACE
  $<BUILD_INTERFACE:${PROJECT_SOURCE_DIR}/include>
  $<INSTALL_INTERFACE:${QORV_INCLUDE_INSTALL_DIR}>)
target_link_libraries(qorv_boundary INTERFACE ${CMAKE_DL_LIBS})
set_target_properties(qorv_boundary PROPERTIES EXPORT_NAME boundary)
install(TARGETS qorv_boundary EXPORT qorv_python_targets)
install(EXPORT qorv_python_targets NAMESPACE qorv_python:: DESTINATION "${QORV_CMAKE_INSTALL_DIR}")
configure_package_config_file("${PROJECT_SOURCE_DIR}/cmake/qorv_python-config.cmake.in"
  "${PROJECT_BINARY_DIR}/qorv_python-config.cmake" INSTALL_DESTINATION "${QORV_CMAKE_INSTALL_DIR}"
  PATH_VARS QORV_PLUGIN_INSTALL_DIR)
write_basic_package_version_file("${PROJECT_BINARY_DIR}/qorv_python-config-version.cmake"
  COMPATIBILITY SameMajorVersion ARCH_INDEPENDENT)
install(FILES "${PROJECT_BINARY_DIR}/qorv_python-config.cmake"
              "${PROJECT_BINARY_DIR}/qorv_python-config-version.cmake"
        DESTINATION "${QORV_CMAKE_INSTALL_DIR}")

# The Debian package. Its dependencies are found by dpkg-shlibdeps from the
# libraries the plugin and qorv-host link: for Debian's Python 3 that names
# libpython3.11. A Python that no package holds (pyenv's) gives a package
# without that dependency, since dpkg-shlibdeps cannot name one.
set(CPACK_PACKAGE_NAME qorv-python)
set(CPACK_PACKAGE_VERSION "${PROJECT_VERSION}")
set(CPACK_PACKAGE_CONTACT "qorv_python maintainers <qorv-python@example.org>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "Python plugin for QORV hosts, with the reference host qorv-host")
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION devel)
set(QORV_PYTHON_PACKAGE "")
find_program(QORV_DPKG dpkg)
if(QORV_DPKG)
  get_filename_component(_library_file "${_library}" REALPATH)
  execute_process(COMMAND ${QORV_DPKG} -S "${_library_file}"
                  OUTPUT_VARIABLE _owner RESULT_VARIABLE _owner_status ERROR_QUIET)
  if(_owner_status EQUAL 0 AND _owner MATCHES "^([^:,]+)")
    set(QORV_PYTHON_PACKAGE "${CMAKE_MATCH_1}")
  endif()
endif()
if(QORV_PYTHON_PACKAGE)
  set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
  message(STATUS "The Debian package depends on ${QORV_PYTHON_PACKAGE}")
else()
  message(STATUS "No Debian package holds ${_library}: the Debian package names no Python dependency")
endif()
include(CPack)
