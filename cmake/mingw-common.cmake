# Shared by the per-target toolchain files, which set _triple and
# _skin_target first. mingw-w64's posix thread-model compilers: the win32
# model lacks std::mutex with GCC 12.
set(CMAKE_SYSTEM_NAME Windows)

find_program(CMAKE_C_COMPILER NAMES ${_triple}-gcc-posix ${_triple}-gcc REQUIRED)
find_program(CMAKE_CXX_COMPILER NAMES ${_triple}-g++-posix ${_triple}-g++ REQUIRED)
find_program(CMAKE_RC_COMPILER NAMES ${_triple}-windres windres REQUIRED)
find_program(CMAKE_OBJDUMP NAMES ${_triple}-objdump objdump)

# Our own dependency prefix comes first so that Debian's libz-mingw-w64-dev
# (which would make programs need zlib1.dll) is never picked up.
set(CMAKE_FIND_ROOT_PATH ${DEPS_PREFIX} /usr/${_triple})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# Programs of this target run under Wine with a prefix of its architecture.
if(EXISTS /usr/lib/wine/wine OR EXISTS /usr/lib/wine/wine64)
  set(CMAKE_CROSSCOMPILING_EMULATOR ${CMAKE_CURRENT_LIST_DIR}/../scripts/wine-run.sh --arch ${_skin_target})
endif()
