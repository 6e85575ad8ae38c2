# Finds the Python to embed with CMake's own FindPython3 / FindPython2 and
# defines the imported target qorv::python.
#   QORV_PYTHON_VERSION=3: the system's Python 3 under /usr (Debian's
#                          python3-dev), unless QORV_PYTHON_PREFIX says otherwise.
#   QORV_PYTHON_VERSION=2: Python 2.7 from the prefix that python2.7 reports
#                          (the image's pyenv 2.7.18 when PYENV_VERSION selects it).
# QORV_PYTHON_PREFIX picks any installation (any CPython 3.8 to 3.13, or 2.7)
# by its prefix, such as the output of `pyenv prefix 3.13.0`.
set(QORV_PYTHON_PREFIX "" CACHE PATH "Installation prefix of the Python to embed (optional)")

if(NOT QORV_PYTHON_VERSION MATCHES "^[23]$")
  message(FATAL_ERROR "QORV_PYTHON_VERSION must be 3 or 2, not '${QORV_PYTHON_VERSION}'")
endif()
set(_py Python${QORV_PYTHON_VERSION})

set(_prefix "${QORV_PYTHON_PREFIX}")
if(NOT _prefix AND QORV_PYTHON_VERSION STREQUAL "3" AND NOT WIN32)
  # Not whatever python3 comes first on PATH (a pyenv shim, for instance).
  set(_prefix /usr)
elseif(NOT _prefix AND QORV_PYTHON_VERSION STREQUAL "2")
  find_program(QORV_PYTHON2 NAMES python2.7 python2)
  if(QORV_PYTHON2)
    execute_process(
      COMMAND ${CMAKE_COMMAND} -E env PYENV_VERSION=2.7.18 ${QORV_PYTHON2} -c
              "import sys; sys.stdout.write(sys.prefix)"
      OUTPUT_VARIABLE _prefix RESULT_VARIABLE _rc ERROR_QUIET)
  endif()
  if(NOT QORV_PYTHON2 OR NOT _rc EQUAL 0 OR NOT _prefix)
    message(FATAL_ERROR "No Python 2.7 found (python2.7 on PATH, or pyenv's 2.7.18); "
                        "set QORV_PYTHON_PREFIX to its installation prefix")
  endif()
endif()

if(_prefix)
  set(${_py}_ROOT_DIR "${_prefix}")
endif()
set(${_py}_FIND_STRATEGY LOCATION)
set(${_py}_FIND_VIRTUALENV STANDARD)
set(${_py}_FIND_REGISTRY NEVER)
find_package(${_py} REQUIRED COMPONENTS Interpreter Development.Embed)
if(QORV_PYTHON_VERSION STREQUAL "3" AND ${_py}_VERSION VERSION_LESS 3.8)
  message(FATAL_ERROR "Python ${${_py}_VERSION} is too old: the plugin needs 3.8 or later")
endif()
message(STATUS "Embedding Python ${${_py}_VERSION}: ${${_py}_LIBRARIES}")

set(QORV_PYTHON_LIBRARY "${${_py}_LIBRARIES}")
set(QORV_PYTHON_VERSION_FULL "${${_py}_VERSION}")
set(QORV_PYTHON_VERSION_MAJOR_MINOR "${${_py}_VERSION_MAJOR}.${${_py}_VERSION_MINOR}")
set(QORV_PYTHON_EXECUTABLE "${${_py}_EXECUTABLE}")
# The installation's own interpreter program, which sys.executable names.
set(QORV_PYTHON_PROGRAM "${_prefix}/bin/python${${_py}_VERSION_MAJOR}.${${_py}_VERSION_MINOR}")
list(GET QORV_PYTHON_LIBRARY 0 _library)
get_filename_component(QORV_PYTHON_LIBDIR "${_library}" DIRECTORY)

add_library(qorv_python_lib_python INTERFACE)
add_library(qorv::python ALIAS qorv_python_lib_python)
target_link_libraries(qorv_python_lib_python INTERFACE ${_py}::Python ${CMAKE_DL_LIBS})
