# Cross-compiles for Windows on TAMSEL_ARCH (i686 or x86_64) with mingw-w64, posix thread model
# (which GoogleTest needs). Included by toolchain-<arch>.cmake, which names the processor.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR ${TAMSEL_ARCH})
set(tamsel_triple ${TAMSEL_ARCH}-w64-mingw32)
set(CMAKE_C_COMPILER ${tamsel_triple}-gcc-posix)
set(CMAKE_CXX_COMPILER ${tamsel_triple}-g++-posix)
set(CMAKE_RC_COMPILER ${tamsel_triple}-windres)
set(CMAKE_FIND_ROOT_PATH /usr/${tamsel_triple})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(TAMSEL_WIDL ${tamsel_triple}-widl)
set(TAMSEL_OBJDUMP ${tamsel_triple}-objdump)
