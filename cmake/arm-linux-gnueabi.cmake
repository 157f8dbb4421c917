# Cross build for 32-bit ARM Linux with software floating point (armel,
# little-endian; long, size_t and time_t of 32 bits) with Debian's cross
# compiler (g++-arm-linux-gnueabi); the test programs run under user-mode
# emulation (qemu-user).
#
#   cmake -S . -B build-armel -DCMAKE_TOOLCHAIN_FILE=cmake/arm-linux-gnueabi.cmake
set(zorvat_target arm-linux-gnueabi)
set(zorvat_emulator qemu-arm)
include(${CMAKE_CURRENT_LIST_DIR}/cross-linux-gnu.cmake)
