# Cross build for 32-bit MIPS Linux (mipsel, little-endian; long, size_t
# and time_t of 32 bits) with Debian's cross compiler (g++-mipsel-linux-gnu);
# the test programs run under user-mode emulation (qemu-user).
#
#   cmake -S . -B build-mipsel -DCMAKE_TOOLCHAIN_FILE=cmake/mipsel-linux-gnu.cmake
set(zorvat_target mipsel-linux-gnu)
set(zorvat_emulator qemu-mipsel)
include(${CMAKE_CURRENT_LIST_DIR}/cross-linux-gnu.cmake)
