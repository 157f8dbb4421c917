# Read by cpack as it makes each kind of package (CPACK_PROJECT_CONFIG_FILE),
# with the CPACK_ settings of CMakeLists.txt.  Each package carries what
# is installed and the files of its own component: the Debian package the
# copyright file, its changelog and its lintian override (debian), the
# RPM the licence file (rpm).

# Distributions take every program's C library from the system: the
# programs of a static build (ZORVAT_STATIC) go into neither package.
if(CPACK_ZORVAT_STATIC AND CPACK_GENERATOR MATCHES "^(DEB|RPM)$")
  message(FATAL_ERROR "The ${CPACK_GENERATOR} package is made of dynamically linked programs only, "
                      "as distributions require: this build links them statically (ZORVAT_STATIC); "
                      "make the package from a build without -DZORVAT_STATIC=ON")
endif()

# The same commit packaged twice gives the same bytes, whatever the
# folder, the time, the umask, the locale or the time zone, when
# SOURCE_DATE_EPOCH is set (to the commit's time, say): its time is the
# time of every file in the packages and the build time that the RPM
# records.  The staged files' modes and times (staged-files.cmake) and the
# Debian package's members (deb-members.cmake) are set by the scripts that cpack runs.
set(CPACK_PRE_BUILD_SCRIPTS ${CMAKE_CURRENT_LIST_DIR}/staged-files.cmake)
if(CPACK_GENERATOR STREQUAL "DEB")
  set(CPACK_POST_BUILD_SCRIPTS ${CMAKE_CURRENT_LIST_DIR}/deb-members.cmake)
endif()
if(CPACK_GENERATOR STREQUAL "RPM" AND DEFINED ENV{SOURCE_DATE_EPOCH})
  # The build host too, which the RPM records.
  string(APPEND CPACK_RPM_SPEC_MORE_DEFINE "\n%define use_source_date_epoch_as_buildtime 1"
                                           "\n%define clamp_mtime_to_source_date_epoch 1"
                                           "\n%define _buildhost reproducible")
endif()

if(CPACK_GENERATOR STREQUAL "DEB")
  set(CPACK_COMPONENTS_ALL Unspecified debian)
elseif(CPACK_GENERATOR STREQUAL "RPM")
  set(CPACK_COMPONENTS_ALL Unspecified rpm)
  # rpmbuild would label a cross build's programs with this machine's
  # architecture.
  if(CPACK_ZORVAT_CROSSCOMPILING)
    message(FATAL_ERROR "The RPM is made from a native build only")
  endif()
else()
  set(CPACK_COMPONENTS_ALL Unspecified)
endif()

# A cross build's Debian package: the architecture is the target's, and
# the dependencies are those that the shlibs file of each needed library's
# cross package gives (what dpkg-shlibdeps would find on the target), with
# the architecture qualifier that the cross packages add ("libc6:sparc64")
# left out, since the package is of that architecture itself.
if(CPACK_GENERATOR STREQUAL "DEB" AND CPACK_ZORVAT_CROSSCOMPILING)
  if(NOT CPACK_DEBIAN_PACKAGE_ARCHITECTURE)
    message(FATAL_ERROR "No Debian architecture for the cross build (dpkg-architecture is in dpkg-dev): "
                        "name it with -DCPACK_DEBIAN_PACKAGE_ARCHITECTURE=")
  endif()
  set(depends)
  foreach(program IN LISTS CPACK_ZORVAT_PROGRAMS)
    execute_process(COMMAND ${CPACK_ZORVAT_READELF} -d -W ${program}
                    OUTPUT_VARIABLE dynamic COMMAND_ERROR_IS_FATAL ANY)
    string(REGEX MATCHALL "\\(NEEDED\\)[^\n]*\\[[^]\n]+\\]" needed "${dynamic}")
    foreach(entry IN LISTS needed)
      string(REGEX REPLACE ".*\\[(.+)\\]$" "\\1" soname "${entry}")
      # A shlibs line is "NAME VERSION DEPENDENCY" for the soname NAME.so.VERSION.
      if(NOT soname MATCHES "^(.+)\\.so\\.([0-9.]+)$")
        message(FATAL_ERROR "${program} needs ${soname}, which has no shlibs entry to look up")
      endif()
      set(key "${CMAKE_MATCH_1} ${CMAKE_MATCH_2} ")
      set(library)
      foreach(root IN LISTS CPACK_ZORVAT_TARGET_ROOT)
        file(GLOB library ${root}/lib/${soname} ${root}/lib64/${soname})
        if(library)
          break()
        endif()
      endforeach()
      if(NOT library)
        message(FATAL_ERROR "${program} needs ${soname}, which is not in ${CPACK_ZORVAT_TARGET_ROOT}")
      endif()
      list(GET library 0 library)
      execute_process(COMMAND dpkg-query -S ${library} OUTPUT_VARIABLE owner COMMAND_ERROR_IS_FATAL ANY)
      string(REGEX REPLACE ":.*" "" owner "${owner}")
      execute_process(COMMAND dpkg-query --control-show ${owner} shlibs
                      OUTPUT_VARIABLE shlibs COMMAND_ERROR_IS_FATAL ANY)
      string(REPLACE "\n" ";" shlibs "${shlibs}")
      set(found)
      foreach(line IN LISTS shlibs)
        string(FIND "${line}" "${key}" at)
        if(at EQUAL 0)
          string(LENGTH "${key}" length)
          string(SUBSTRING "${line}" ${length} -1 found)
          string(REGEX REPLACE "^([^ :(]+):[^ (]+" "\\1" found "${found}")
          break()
        endif()
      endforeach()
      if(NOT found)
        message(FATAL_ERROR "${owner} has no shlibs entry for ${soname}")
      endif()
      list(APPEND depends "${found}")
    endforeach()
  endforeach()
  list(REMOVE_DUPLICATES depends)
  list(JOIN depends ", " CPACK_DEBIAN_PACKAGE_DEPENDS)
endif()
