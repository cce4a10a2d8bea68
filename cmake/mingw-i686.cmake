# Cross toolchain: 32-bit Windows (cmake/mingw.cmake for the rest).
set(CMAKE_SYSTEM_PROCESSOR i686)
include(${CMAKE_CURRENT_LIST_DIR}/mingw.cmake)
