# Cross build for 32-bit ARM Linux with hardware floating point (armhf,
# little-endian; long, size_t and time_t of 32 bits) with Debian's cross
# compiler (g++-arm-linux-gnueabihf); the test programs run under user-mode
# emulation (qemu-user).
#
#   cmake -S . -B build-armhf -DCMAKE_TOOLCHAIN_FILE=cmake/arm-linux-gnueabihf.cmake
set(zorvat_target arm-linux-gnueabihf)
set(zorvat_emulator qemu-arm)
include(${CMAKE_CURRENT_LIST_DIR}/cross-linux-gnu.cmake)
