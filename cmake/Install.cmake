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
install(FILES "${PROJECT_SOURCE_DIR}/README.md" "${PROJECT_SOURCE_DIR}/packaging/copyright"
        DESTINATION "${QORV_DOC_INSTALL_DIR}")
# Byte code that running the demo from the source tree left there stays out.
install(DIRECTORY "${PROJECT_SOURCE_DIR}/examples" DESTINATION "${QORV_DOC_INSTALL_DIR}"
        PATTERN "__pycache__" EXCLUDE PATTERN "*.pyc" EXCLUDE PATTERN "qorv_python.txt" EXCLUDE)

# The manual page, compressed as Debian's policy has it (man reads it so
# everywhere); without gzip, as it is.
find_program(QORV_GZIP gzip)
set(_manual "${PROJECT_BINARY_DIR}/qorv-host.1")
if(QORV_GZIP)
  add_custom_command(OUTPUT "${_manual}.gz"
    COMMAND ${CMAKE_COMMAND} -E copy "${PROJECT_SOURCE_DIR}/docs/qorv-host.1" "${_manual}"
    COMMAND "${QORV_GZIP}" -9nf "${_manual}"
    DEPENDS "${PROJECT_SOURCE_DIR}/docs/qorv-host.1" VERBATIM)
  set(_manual "${_manual}.gz")
else()
  configure_file("${PROJECT_SOURCE_DIR}/docs/qorv-host.1" "${_manual}" COPYONLY)
endif()
add_custom_target(qorv_manual ALL DEPENDS "${_manual}")
install(FILES "${_manual}" DESTINATION "${QORV_MAN_INSTALL_DIR}")

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
# libpython3.11. cpack refuses a build whose Python no Debian package holds
# (PackageCheck.cmake).
set(CPACK_PACKAGE_NAME qorv-python)
set(CPACK_PACKAGE_VERSION "${PROJECT_VERSION}")
set(CPACK_PACKAGE_CONTACT "qorv_python maintainers <qorv-python@example.org>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "Python plugin for QORV hosts, with the reference host qorv-host")
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION devel)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_STRIP_FILES ON)
set(CPACK_PROJECT_CONFIG_FILE "${PROJECT_SOURCE_DIR}/cmake/PackageCheck.cmake")
set(QORV_PACKAGE_EXAMPLES_DIR "${CPACK_PACKAGING_INSTALL_PREFIX}/${QORV_DOC_INSTALL_DIR}/examples")
configure_file("${PROJECT_SOURCE_DIR}/packaging/prerm.in" "${PROJECT_BINARY_DIR}/packaging/prerm"
               @ONLY FILE_PERMISSIONS OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ
               GROUP_EXECUTE WORLD_READ WORLD_EXECUTE)
set(CPACK_DEBIAN_PACKAGE_CONTROL_EXTRA "${PROJECT_BINARY_DIR}/packaging/prerm")
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)

set(CPACK_QORV_PYTHON_LIBRARY "${_library}")
set(CPACK_QORV_PYTHON_PACKAGE "")
find_program(QORV_DPKG dpkg)
if(QORV_DPKG)
  get_filename_component(_library_file "${_library}" REALPATH)
  execute_process(COMMAND ${QORV_DPKG} -S "${_library_file}"
                  OUTPUT_VARIABLE _owner RESULT_VARIABLE _owner_status ERROR_QUIET)
  if(_owner_status EQUAL 0 AND _owner MATCHES "^([^:,]+)")
    set(CPACK_QORV_PYTHON_PACKAGE "${CMAKE_MATCH_1}")
  endif()
endif()
if(CPACK_QORV_PYTHON_PACKAGE)
  message(STATUS "The Debian package depends on ${CPACK_QORV_PYTHON_PACKAGE}")
else()
  message(STATUS "No Debian package holds ${_library}: cpack -G DEB refuses this build")
endif()
include(CPack)
