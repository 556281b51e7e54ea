# Shared part of the MinGW-w64 cross builds. The including file sets N47_MINGW_TRIPLET.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_C_COMPILER ${N47_MINGW_TRIPLET}-gcc)
set(CMAKE_CXX_COMPILER ${N47_MINGW_TRIPLET}-g++)
set(CMAKE_RC_COMPILER ${N47_MINGW_TRIPLET}-windres)
set(CMAKE_DLLTOOL ${N47_MINGW_TRIPLET}-dlltool)

set(CMAKE_FIND_ROOT_PATH /usr/${N47_MINGW_TRIPLET})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# The DLLs must load on a machine without the MinGW runtime DLLs (libgcc_s, libstdc++,
# libwinpthread): link every runtime statically.
set(CMAKE_SHARED_LINKER_FLAGS_INIT "-static-libgcc -static-libstdc++ -static")
set(CMAKE_EXE_LINKER_FLAGS_INIT "-static-libgcc -static-libstdc++ -static")
