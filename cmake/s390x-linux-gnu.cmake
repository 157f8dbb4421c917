# Cross build for 64-bit IBM Z Linux (s390x, big-endian) with Debian's
# cross compiler (g++-s390x-linux-gnu); the test programs run under
# user-mode emulation (qemu-user).
#
#   cmake -S . -B build-s390x -DCMAKE_TOOLCHAIN_FILE=cmake/s390x-linux-gnu.cmake
set(zorvat_target s390x-linux-gnu)
set(zorvat_emulator qemu-s390x)
include(${CMAKE_CURRENT_LIST_DIR}/cross-linux-gnu.cmake)
