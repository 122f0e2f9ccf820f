# Compiler settings shared by every target, and the Wine runner for cross builds.

add_compile_options(-Wall -Wextra)
if(WIN32)
  # No MFC/ATL here: plain Win32 and COM. Keep the headers lean and the ANSI calls explicit.
  add_compile_definitions(WIN32_LEAN_AND_MEAN NOMINMAX _WIN32_WINNT=0x0601 WINVER=0x0601)
  # Executables carry their runtime; the DLL carries it too (see module/), so that it imports
  # only system DLLs.
  set(CMAKE_EXE_LINKER_FLAGS "${CMAKE_EXE_LINKER_FLAGS} -static")

  # Every Windows program that ctest starts runs under Wine in this build's own prefix.
  set(TAMSEL_WINEPREFIX "${CMAKE_BINARY_DIR}/wineprefix")
  set(CMAKE_CROSSCOMPILING_EMULATOR "${CMAKE_SOURCE_DIR}/scripts/wine-run.sh;${TAMSEL_WINEPREFIX}")
elseif(TAMSEL_SANITIZE)
  add_compile_options(-fsanitize=address,undefined -fno-omit-frame-pointer -fno-sanitize-recover=all)
  add_link_options(-fsanitize=address,undefined)
endif()

# GoogleTest from Debian's source package, built by whichever compiler this build uses.
function(tamsel_use_googletest)
  if(NOT TARGET gtest)
    set(INSTALL_GTEST OFF CACHE BOOL "" FORCE)
    set(BUILD_GMOCK OFF CACHE BOOL "" FORCE)
    add_subdirectory(/usr/src/googletest ${CMAKE_BINARY_DIR}/googletest EXCLUDE_FROM_ALL)
  endif()
endfunction()
