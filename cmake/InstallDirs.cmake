# Where things are installed, below the prefix. A Python 2 build's plugin
# keeps its file name in a directory of its own, so that both builds can be
# installed side by side.
set(QORV_BIN_INSTALL_DIR bin)
set(QORV_INCLUDE_INSTALL_DIR include)
set(QORV_PLUGIN_INSTALL_DIR lib/qorv)
if(QORV_PYTHON_VERSION STREQUAL "2")
  set(QORV_PLUGIN_INSTALL_DIR lib/qorv/python2.7)
endif()
set(QORV_DOC_INSTALL_DIR share/doc/qorv-python)
set(QORV_MAN_INSTALL_DIR share/man/man1)
set(QORV_CMAKE_INSTALL_DIR lib/cmake/qorv_python)
