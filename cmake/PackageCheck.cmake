# Read by cpack before it makes a package. A Debian package is made only of a
# build whose Python library belongs to a Debian package: only then can the
# package depend on the package that provides it. Built against any other
# Python (pyenv's), the package would name no Python dependency and load a
# library from a directory that only this machine has.
if(CPACK_GENERATOR STREQUAL "DEB" AND NOT CPACK_QORV_PYTHON_PACKAGE)
  message(FATAL_ERROR
    "qorv_python: no Debian package holds ${CPACK_QORV_PYTHON_LIBRARY}, the Python "
    "library this build embeds, so a Debian package of it would depend on nothing "
    "that provides it. Make the package from a build against Debian's Python "
    "(python3-dev, configured without QORV_PYTHON_PREFIX); install this build with "
    "cmake --install instead.")
endif()
