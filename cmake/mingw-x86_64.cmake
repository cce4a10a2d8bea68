# Cross toolchain: 64-bit Windows (cmake/mingw.cmake for the rest).
set(CMAKE_SYSTEM_PROCESSOR x86_64)
include(${CMAKE_CURRENT_LIST_DIR}/mingw.cmake)
