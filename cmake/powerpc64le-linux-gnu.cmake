# Cross build for 64-bit POWER Linux (ppc64el, little-endian) with Debian's
# cross compiler (g++-powerpc64le-linux-gnu); the test programs run under
# user-mode emulation (qemu-user).
#
#   cmake -S . -B build-ppc64el -DCMAKE_TOOLCHAIN_FILE=cmake/powerpc64le-linux-gnu.cmake
set(zorvat_target powerpc64le-linux-gnu)
set(zorvat_emulator qemu-ppc64le)
include(${CMAKE_CURRENT_LIST_DIR}/cross-linux-gnu.cmake)
