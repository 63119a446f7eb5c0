# Cross-compiling for 64-bit Windows from the same sources.
set(CMAKE_SYSTEM_PROCESSOR x86_64)
set(_triple x86_64-w64-mingw32)
set(_skin_target x86_64)
include(${CMAKE_CURRENT_LIST_DIR}/mingw-common.cmake)
