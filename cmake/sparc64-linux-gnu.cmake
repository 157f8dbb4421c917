# Cross build for 64-bit SPARC Linux (big-endian) with Debian's cross
# compiler (g++-sparc64-linux-gnu); the test programs run under user-mode
# emulation (qemu-user).
#
#   cmake -S . -B build-sparc -DCMAKE_TOOLCHAIN_FILE=cmake/sparc64-linux-gnu.cmake
set(zorvat_target sparc64-linux-gnu)
set(zorvat_emulator qemu-sparc64)
include(${CMAKE_CURRENT_LIST_DIR}/cross-linux-gnu.cmake)
