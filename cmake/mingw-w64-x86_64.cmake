# Cross-build for 64-bit Windows with Debian's mingw-w64 (the POSIX thread
# model, g++-mingw-w64-x86-64-posix):
#   cmake --toolchain cmake/mingw-w64-x86_64.cmake -S . -B build-win
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)

set(MINGW_PREFIX x86_64-w64-mingw32)
set(CMAKE_C_COMPILER ${MINGW_PREFIX}-gcc-posix)
set(CMAKE_CXX_COMPILER ${MINGW_PREFIX}-g++-posix)
set(CMAKE_RC_COMPILER ${MINGW_PREFIX}-windres)

set(CMAKE_FIND_ROOT_PATH /usr/${MINGW_PREFIX})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# The tests run the Windows executables under Wine.
find_program(WINE_EXECUTABLE wine)
set(CMAKE_CROSSCOMPILING_EMULATOR ${WINE_EXECUTABLE})
