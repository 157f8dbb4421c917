# Read by cpack as it makes each kind of package (CPACK_PROJECT_CONFIG_FILE),
# with the CPACK_ settings of CMakeLists.txt.  Each package carries what
# is installed and the files of its own component: the Debian package the
# copyright file, its changelog and its lintian override (debian), the
# RPM the licence file (rpm).

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
