# Cross build for 64-bit Windows with Debian's mingw-w64 toolchain; tests run under Wine.
#
#   cmake -S . -B build/windows -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-w64-x86_64.cmake
#
# The posix-thread compilers are used on purpose: the win32-thread ones have no std::mutex
# or std::thread, and GoogleTest needs both. Everything links with -static (see the top-level
# CMakeLists.txt), so nothing ends up importing libwinpthread, libgcc or libstdc++.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)

set(QUILLMESH_MINGW_TRIPLE x86_64-w64-mingw32)
set(CMAKE_C_COMPILER ${QUILLMESH_MINGW_TRIPLE}-gcc-posix)
set(CMAKE_CXX_COMPILER ${QUILLMESH_MINGW_TRIPLE}-g++-posix)
set(CMAKE_RC_COMPILER ${QUILLMESH_MINGW_TRIPLE}-windres)

set(CMAKE_FIND_ROOT_PATH /usr/${QUILLMESH_MINGW_TRIPLE})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# Lets ctest (and gtest_discover_tests) run the .exe files; the environment for Wine comes
# from scripts/wine-ctest.
set(CMAKE_CROSSCOMPILING_EMULATOR wine)
