# Cross build for 64-bit SPARC Linux (big-endian) with Debian's cross
# compiler (g++-sparc64-linux-gnu); the test programs run under user-mode
# emulation (qemu-user).
#
#   cmake -S . -B build-sparc -DCMAKE_TOOLCHAIN_FILE=cmake/sparc64-linux-gnu.cmake
set(CMAKE_SYSTEM_NAME Linux)
set(CMAKE_SYSTEM_PROCESSOR sparc64)

set(zorvat_target sparc64-linux-gnu)
set(CMAKE_C_COMPILER ${zorvat_target}-gcc)
set(CMAKE_CXX_COMPILER ${zorvat_target}-g++)

# The target's C library and loader.
set(zorvat_target_root /usr/${zorvat_target})

# Headers, libraries and packages come from the target only, never from
# this machine (whose libgtest is built for it, not for SPARC); programs
# run during the build come from this machine.
set(CMAKE_FIND_ROOT_PATH ${zorvat_target_root})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# Programs built here run on this machine through the emulator, which
# loads the target's libraries from zorvat_target_root.
find_program(zorvat_qemu qemu-sparc64 REQUIRED)
set(CMAKE_CROSSCOMPILING_EMULATOR ${zorvat_qemu} -L ${zorvat_target_root})
