# Cross-compiling for 32-bit Windows: the shipped installer.
set(CMAKE_SYSTEM_PROCESSOR i686)
set(_triple i686-w64-mingw32)
set(_skin_target i686)
include(${CMAKE_CURRENT_LIST_DIR}/mingw-common.cmake)
