# Cross build for 64-bit RISC-V Linux (riscv64, little-endian) with
# Debian's cross compiler (g++-riscv64-linux-gnu); the test programs run
# under user-mode emulation (qemu-user).
#
#   cmake -S . -B build-riscv64 -DCMAKE_TOOLCHAIN_FILE=cmake/riscv64-linux-gnu.cmake
set(zorvat_target riscv64-linux-gnu)
set(zorvat_emulator qemu-riscv64)
include(${CMAKE_CURRENT_LIST_DIR}/cross-linux-gnu.cmake)
