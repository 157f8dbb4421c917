# Cross build for 64-bit ARM Linux (arm64, little-endian) with Debian's
# cross compiler (g++-aarch64-linux-gnu); the test programs run under
# user-mode emulation (qemu-user).
#
#   cmake -S . -B build-arm64 -DCMAKE_TOOLCHAIN_FILE=cmake/aarch64-linux-gnu.cmake
set(zorvat_target aarch64-linux-gnu)
set(zorvat_emulator qemu-aarch64)
include(${CMAKE_CURRENT_LIST_DIR}/cross-linux-gnu.cmake)
