# Cross build for 64-bit MIPS Linux (mips64el, little-endian, the 64-bit
# ABI) with Debian's cross compiler (g++-mips64el-linux-gnuabi64); the test
# programs run under user-mode emulation (qemu-user).
#
#   cmake -S . -B build-mips64el -DCMAKE_TOOLCHAIN_FILE=cmake/mips64el-linux-gnuabi64.cmake
set(zorvat_target mips64el-linux-gnuabi64)
set(zorvat_emulator qemu-mips64el)
include(${CMAKE_CURRENT_LIST_DIR}/cross-linux-gnu.cmake)
