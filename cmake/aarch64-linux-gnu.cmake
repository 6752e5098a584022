# Cross-builds for 64-bit ARM Linux with Debian's g++-aarch64-linux-gnu; what it builds runs here
# under qemu-user (Debian: qemu-user).
#
#   cmake -S . -B build-arm64 --toolchain cmake/aarch64-linux-gnu.cmake
set(CMAKE_SYSTEM_NAME Linux)
set(CMAKE_SYSTEM_PROCESSOR aarch64)

set(BOOTCAMP_CROSS_TRIPLET aarch64-linux-gnu)
set(CMAKE_C_COMPILER ${BOOTCAMP_CROSS_TRIPLET}-gcc)
set(CMAKE_CXX_COMPILER ${BOOTCAMP_CROSS_TRIPLET}-g++)

set(CMAKE_FIND_ROOT_PATH /usr/${BOOTCAMP_CROSS_TRIPLET})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# The tools the build runs (the manual page's layout_size) and the tests run under qemu; -L finds
# the cross libraries for what is not linked statically.
find_program(BOOTCAMP_QEMU qemu-aarch64)
if(BOOTCAMP_QEMU)
  set(CMAKE_CROSSCOMPILING_EMULATOR ${BOOTCAMP_QEMU} -L /usr/${BOOTCAMP_CROSS_TRIPLET})
endif()
