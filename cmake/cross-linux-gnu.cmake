# The part that every cross build for Linux shares, with Debian's cross
# compiler for the target and the target's programs run here under
# user-mode emulation (qemu-user).  Each toolchain file beside this one
# names its target and emulator and includes it:
#
#   set(zorvat_target <triple>)      # sparc64-linux-gnu, aarch64-linux-gnu, ...
#   set(zorvat_emulator <program>)   # qemu-sparc64, qemu-aarch64, ...
#   include(${CMAKE_CURRENT_LIST_DIR}/cross-linux-gnu.cmake)
#
# The processor is the triple's first word: CMakeLists.txt chooses the
# revision of zorvat by it (1.9 on SPARC).
if(NOT zorvat_target OR NOT zorvat_emulator)
  message(FATAL_ERROR "A toolchain file sets zorvat_target and zorvat_emulator before it includes ${CMAKE_CURRENT_LIST_FILE}")
endif()
set(CMAKE_SYSTEM_NAME Linux)
string(REGEX REPLACE "-.*" "" CMAKE_SYSTEM_PROCESSOR ${zorvat_target})

set(CMAKE_C_COMPILER ${zorvat_target}-gcc)
set(CMAKE_CXX_COMPILER ${zorvat_target}-g++)

# The target's C library and loader.
set(zorvat_target_root /usr/${zorvat_target})

# Headers, libraries and packages come from the target only, never from
# this machine (whose libgtest is built for it, not for the target);
# programs run during the build come from this machine.
set(CMAKE_FIND_ROOT_PATH ${zorvat_target_root})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# Programs built here run on this machine through the emulator, which
# loads the target's libraries from zorvat_target_root.
find_program(zorvat_qemu ${zorvat_emulator} REQUIRED)
set(CMAKE_CROSSCOMPILING_EMULATOR ${zorvat_qemu} -L ${zorvat_target_root})
