# Cross-builds tavoctl for 64-bit Windows with MinGW-w64 on Debian
# (g++-mingw-w64-x86-64-posix). The posix flavour of the compiler is the one
# whose C++ runtime has std::thread and std::this_thread.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)

set(mingw_triple x86_64-w64-mingw32)
set(CMAKE_C_COMPILER ${mingw_triple}-gcc-posix)
set(CMAKE_CXX_COMPILER ${mingw_triple}-g++-posix)
set(CMAKE_RC_COMPILER ${mingw_triple}-windres)

set(CMAKE_FIND_ROOT_PATH /usr/${mingw_triple})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# Link the C++ runtime, libgcc and winpthread into each .exe, so that it runs
# on any Windows machine with nothing installed beside it.
set(CMAKE_EXE_LINKER_FLAGS_INIT -static)
