# Cross build for 32-bit x86 Linux (i386, little-endian; long, size_t and
# time_t of 32 bits) with Debian's cross compiler (g++-i686-linux-gnu); the
# test programs run under user-mode emulation (qemu-user).
#
#   cmake -S . -B build-i386 -DCMAKE_TOOLCHAIN_FILE=cmake/i686-linux-gnu.cmake
set(zorvat_target i686-linux-gnu)
set(zorvat_emulator qemu-i386)
include(${CMAKE_CURRENT_LIST_DIR}/cross-linux-gnu.cmake)
