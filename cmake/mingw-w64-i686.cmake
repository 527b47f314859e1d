# Cross-compile for 32-bit Windows (i686) with the posix-thread flavour of mingw-w64: the
# product, varnel.exe, which runs on every Windows from XP SP3 on, 32-bit and 64-bit.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86)
set(CMAKE_C_COMPILER i686-w64-mingw32-gcc-posix)
set(CMAKE_CXX_COMPILER i686-w64-mingw32-g++-posix)
set(CMAKE_RC_COMPILER i686-w64-mingw32-windres)
set(CMAKE_FIND_ROOT_PATH /usr/i686-w64-mingw32)
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
# Tests run under a 32-bit Wine, and are skipped where there is none (the script tells why).
set(CMAKE_CROSSCOMPILING_EMULATOR /bin/sh ${CMAKE_CURRENT_LIST_DIR}/wine32_or_skip.sh wine)
