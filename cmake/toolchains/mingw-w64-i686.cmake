# 32-bit Windows, with Debian's g++-mingw-w64-i686.
set(QORV_MINGW_ARCH i686)
include(${CMAKE_CURRENT_LIST_DIR}/mingw-w64.cmake)
