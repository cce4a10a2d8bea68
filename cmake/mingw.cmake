# Cross toolchain body shared by both Windows builds: mingw-w64 for
# CMAKE_SYSTEM_PROCESSOR (posix thread variant, which GoogleTest needs for
# std::mutex), everything linked statically so the products import nothing but
# Windows system DLLs.
set(CMAKE_SYSTEM_NAME Windows)
set(LC_MINGW ${CMAKE_SYSTEM_PROCESSOR}-w64-mingw32)

set(CMAKE_C_COMPILER   ${LC_MINGW}-gcc-posix)
set(CMAKE_CXX_COMPILER ${LC_MINGW}-g++-posix)
set(CMAKE_RC_COMPILER  ${LC_MINGW}-windres)

set(CMAKE_FIND_ROOT_PATH /usr/${LC_MINGW})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)

set(CMAKE_EXE_LINKER_FLAGS_INIT    "-static")
set(CMAKE_SHARED_LINKER_FLAGS_INIT "-static")
set(CMAKE_MODULE_LINKER_FLAGS_INIT "-static")

# Test programs run under Wine in the build tree's private prefix, a 32-bit
# one for the i686 build and a 64-bit one for the x86_64 build.
if(CMAKE_SYSTEM_PROCESSOR STREQUAL "x86_64")
  set(LC_WINE_ARCH x64)
else()
  set(LC_WINE_ARCH x86)
endif()
set(CMAKE_CROSSCOMPILING_EMULATOR /usr/bin/env LETTERCAST_ARCH=${LC_WINE_ARCH}
    "${CMAKE_CURRENT_LIST_DIR}/../scripts/wine-run")
