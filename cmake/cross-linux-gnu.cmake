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
# loads the target's libraries from zorvat_target_root.  The target's
# loader is named on the emulator's command line rather than found through
# the program, and told to search the target's library folders only: left
# to itself it reads this machine's /etc/ld.so.cache (the target root has
# none), which may list this machine's own libraries for the same
# processor (libc6-i386's /lib32/libc.so.6 for i686), and a C library of
# another build loaded beside the target's loader hangs or crashes the
# program.
find_program(zorvat_qemu ${zorvat_emulator} REQUIRED)
file(GLOB zorvat_loaders ${zorvat_target_root}/lib*/ld*.so.[0-9])
set(zorvat_loader)
foreach(candidate IN LISTS zorvat_loaders)
  file(REAL_PATH ${candidate} candidate)
  list(APPEND zorvat_loader ${candidate})
endforeach()
list(REMOVE_DUPLICATES zorvat_loader)
list(LENGTH zorvat_loader zorvat_loader_count)
if(NOT zorvat_loader_count EQUAL 1)
  message(FATAL_ERROR "Expected one loader of ${zorvat_target} in ${zorvat_target_root}/lib*, found: ${zorvat_loader} "
                      "(Debian: the cross compiler's libc6-*-cross package)")
endif()
file(GLOB zorvat_library_path LIST_DIRECTORIES true ${zorvat_target_root}/lib ${zorvat_target_root}/lib64)
list(JOIN zorvat_library_path ":" zorvat_library_path)
set(CMAKE_CROSSCOMPILING_EMULATOR ${zorvat_qemu} -L ${zorvat_target_root}
    ${zorvat_loader} --inhibit-cache --library-path ${zorvat_library_path})
