# Cross-compiles for i686 Windows with mingw-w64.
set(TAMSEL_ARCH i686)
include(${CMAKE_CURRENT_LIST_DIR}/toolchain-mingw.cmake)
