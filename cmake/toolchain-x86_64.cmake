# Cross-compiles for x86_64 Windows with mingw-w64.
set(TAMSEL_ARCH x86_64)
include(${CMAKE_CURRENT_LIST_DIR}/toolchain-mingw.cmake)
