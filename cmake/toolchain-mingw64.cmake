# Cross-building the Windows programs on Linux with mingw-w64 (64 bit). The posix thread model's
# compilers give std::thread and std::mutex; everything is linked statically, so that the .exe runs
# alone on a Windows machine without the compiler's libraries beside it.
#   cmake -DCMAKE_TOOLCHAIN_FILE=cmake/toolchain-mingw64.cmake ...
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)
set(QLN_MINGW_TRIPLE x86_64-w64-mingw32)

set(CMAKE_C_COMPILER ${QLN_MINGW_TRIPLE}-gcc-posix)
set(CMAKE_CXX_COMPILER ${QLN_MINGW_TRIPLE}-g++-posix)
set(CMAKE_RC_COMPILER ${QLN_MINGW_TRIPLE}-windres)

set(CMAKE_FIND_ROOT_PATH /usr/${QLN_MINGW_TRIPLE})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# GCC 12 reports std::string's own copies as overlapping at -O2 (a false -Wrestrict in libstdc++).
set(CMAKE_CXX_FLAGS_INIT "-Wno-restrict")
set(CMAKE_EXE_LINKER_FLAGS_INIT "-static -static-libgcc -static-libstdc++")

# Tests and other programs built here run under wine.
find_program(QLN_WINE NAMES wine wine64)
if(QLN_WINE)
  set(CMAKE_CROSSCOMPILING_EMULATOR ${QLN_WINE})
endif()
