# Cross-building the Windows programs with mingw-w64 (posix threads, so
# std::thread and std::mutex work), tests run under Wine.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)
set(PASOTUNE_MINGW x86_64-w64-mingw32)

set(CMAKE_C_COMPILER ${PASOTUNE_MINGW}-gcc-posix)
set(CMAKE_CXX_COMPILER ${PASOTUNE_MINGW}-g++-posix)
set(CMAKE_RC_COMPILER ${PASOTUNE_MINGW}-windres)

set(CMAKE_FIND_ROOT_PATH /usr/${PASOTUNE_MINGW})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# The programs need only system DLLs: no libstdc++, libgcc or winpthread
# to ship beside them.
set(CMAKE_EXE_LINKER_FLAGS_INIT "-static -static-libgcc -static-libstdc++")

# Test discovery and every test run the .exe through Wine.
set(CMAKE_CROSSCOMPILING_EMULATOR ${CMAKE_CURRENT_LIST_DIR}/wine-run.sh ${CMAKE_BINARY_DIR}/wine-prefix)
