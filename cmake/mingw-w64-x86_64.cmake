# Cross-builds for 64-bit Windows with MinGW-w64 (Debian: g++-mingw-w64-x86-64); the tests run under wine.
#
#   cmake -S . -B build-windows --toolchain cmake/mingw-w64-x86_64.cmake
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)

set(BOOTCAMP_MINGW_TRIPLET x86_64-w64-mingw32)
# The -posix compilers: std::thread and friends, which GoogleTest wants, on winpthreads.
set(CMAKE_C_COMPILER ${BOOTCAMP_MINGW_TRIPLET}-gcc-posix)
set(CMAKE_CXX_COMPILER ${BOOTCAMP_MINGW_TRIPLET}-g++-posix)
set(CMAKE_RC_COMPILER ${BOOTCAMP_MINGW_TRIPLET}-windres)

set(CMAKE_FIND_ROOT_PATH /usr/${BOOTCAMP_MINGW_TRIPLET})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# The runtime linked in, so bootcamp.exe runs on its own with no MinGW DLLs beside it; no time of
# the link in its header, so that the same source links to the same bytes.
set(CMAKE_EXE_LINKER_FLAGS_INIT "-static -static-libgcc -static-libstdc++ -Wl,--no-insert-timestamp")

# The tests (and their listing by gtest_discover_tests) run the .exe files through wine.
find_program(BOOTCAMP_WINE NAMES wine wine64)
if(BOOTCAMP_WINE)
  set(CMAKE_CROSSCOMPILING_EMULATOR ${BOOTCAMP_WINE})
endif()
