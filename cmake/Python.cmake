# Finds the Python to embed and defines the imported target qorv::python.
#   QORV_PYTHON_VERSION=3: Debian's python3-embed (python3-dev), through pkg-config.
#   QORV_PYTHON_VERSION=2: Python 2.7 from the prefix that python2.7 reports
#                          (the image's pyenv 2.7.18 when PYENV_VERSION selects it).
# QORV_PYTHON_PREFIX overrides the search with an installation prefix.
set(QORV_PYTHON_PREFIX "" CACHE PATH "Installation prefix of the Python to embed (optional)")

add_library(qorv_python_lib_python INTERFACE)
add_library(qorv::python ALIAS qorv_python_lib_python)

if(QORV_PYTHON_VERSION STREQUAL "3")
  set(_abi "")
  if(QORV_PYTHON_PREFIX)
    file(GLOB _incs "${QORV_PYTHON_PREFIX}/include/python3.*")
    list(GET _incs 0 _inc)
    get_filename_component(_abi "${_inc}" NAME)
    set(QORV_PYTHON_INCLUDE "${_inc}")
    find_library(QORV_PYTHON_LIBRARY NAMES ${_abi} PATHS "${QORV_PYTHON_PREFIX}/lib" NO_DEFAULT_PATH REQUIRED)
  else()
    find_package(PkgConfig REQUIRED)
    # Debian's pkg-config directory first, so that a python3 earlier on PATH
    # (pyenv, for instance) without a shared library is not picked up.
    set(ENV{PKG_CONFIG_PATH} "/usr/lib/x86_64-linux-gnu/pkgconfig:$ENV{PKG_CONFIG_PATH}")
    pkg_check_modules(QORV_PY3 REQUIRED python3-embed)
    set(QORV_PYTHON_INCLUDE ${QORV_PY3_INCLUDE_DIRS})
    find_library(QORV_PYTHON_LIBRARY NAMES ${QORV_PY3_LIBRARIES}
                 HINTS ${QORV_PY3_LIBRARY_DIRS} /usr/lib/x86_64-linux-gnu REQUIRED)
  endif()
elseif(QORV_PYTHON_VERSION STREQUAL "2")
  set(_prefix "${QORV_PYTHON_PREFIX}")
  if(NOT _prefix)
    find_program(QORV_PYTHON2 NAMES python2.7 python2 REQUIRED)
    execute_process(
      COMMAND ${CMAKE_COMMAND} -E env PYENV_VERSION=2.7.18 ${QORV_PYTHON2} -c "import sys; sys.stdout.write(sys.prefix)"
      OUTPUT_VARIABLE _prefix RESULT_VARIABLE _rc)
    if(NOT _rc EQUAL 0 OR NOT _prefix)
      message(FATAL_ERROR "python2.7 did not report its prefix; set QORV_PYTHON_PREFIX")
    endif()
  endif()
  set(QORV_PYTHON_INCLUDE "${_prefix}/include/python2.7")
  find_library(QORV_PYTHON_LIBRARY NAMES python2.7 PATHS "${_prefix}/lib" NO_DEFAULT_PATH REQUIRED)
else()
  message(FATAL_ERROR "QORV_PYTHON_VERSION must be 3 or 2, not '${QORV_PYTHON_VERSION}'")
endif()

if(NOT EXISTS "${QORV_PYTHON_INCLUDE}/Python.h")
  message(FATAL_ERROR "Python.h not found in ${QORV_PYTHON_INCLUDE}")
endif()
get_filename_component(QORV_PYTHON_LIBDIR "${QORV_PYTHON_LIBRARY}" DIRECTORY)
message(STATUS "Embedding Python ${QORV_PYTHON_VERSION}: ${QORV_PYTHON_LIBRARY}")

target_include_directories(qorv_python_lib_python SYSTEM INTERFACE ${QORV_PYTHON_INCLUDE})
target_link_libraries(qorv_python_lib_python INTERFACE ${QORV_PYTHON_LIBRARY} ${CMAKE_DL_LIBS})
# The plugin and the tests find a libpython outside the standard directories
# (Python 2.7 under its own prefix) through the run path.
target_link_options(qorv_python_lib_python INTERFACE "-Wl,-rpath,${QORV_PYTHON_LIBDIR}")
target_compile_definitions(qorv_python_lib_python INTERFACE QORV_PYTHON_MAJOR=${QORV_PYTHON_VERSION})
