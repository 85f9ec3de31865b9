# Cross-compiling for 32-bit Windows with Debian's mingw-w64:
#   cmake -S . -B build-win32 -G Ninja -DCMAKE_TOOLCHAIN_FILE=cmake/toolchain-i686-w64-mingw32.cmake
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86)
set(OMBRIX_MINGW_TRIPLE i686-w64-mingw32)
set(CMAKE_C_COMPILER ${OMBRIX_MINGW_TRIPLE}-gcc)
set(CMAKE_CXX_COMPILER ${OMBRIX_MINGW_TRIPLE}-g++)
set(CMAKE_RC_COMPILER ${OMBRIX_MINGW_TRIPLE}-windres)
set(CMAKE_FIND_ROOT_PATH /usr/${OMBRIX_MINGW_TRIPLE})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)
# Doubles in SSE2 registers, not the x87 stack's 80 bits: the same bits as the 64-bit builds.
set(CMAKE_CXX_FLAGS_INIT "-msse2 -mfpmath=sse")
