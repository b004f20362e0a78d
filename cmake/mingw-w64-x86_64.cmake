# Cross build of the Windows programs with MinGW-w64 (x86-64).
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)

set(TOOL_PREFIX x86_64-w64-mingw32)
set(CMAKE_C_COMPILER   ${TOOL_PREFIX}-gcc)
set(CMAKE_CXX_COMPILER ${TOOL_PREFIX}-g++)
set(CMAKE_RC_COMPILER  ${TOOL_PREFIX}-windres)

set(CMAKE_FIND_ROOT_PATH /usr/${TOOL_PREFIX})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)

# libgcc, libstdc++ and winpthread go into each .exe, so it needs no DLL beside it.
set(CMAKE_EXE_LINKER_FLAGS_INIT "-static -static-libgcc -static-libstdc++")
