# Run by cpack once the files to package are installed in its staging
# folder (CPACK_PRE_BUILD_SCRIPTS).
#
# Every folder there becomes rwxr-xr-x.  The install rules set each file's
# mode (rwxr-xr-x for the programs, rw-r--r-- for the rest), but the
# folders they make take the umask of the one who builds: under umask 077
# they would be rwx------ in the package, and a system that installed it
# would have a /usr/share that only root can enter.
#
# With SOURCE_DATE_EPOCH set, every file, folder and link there takes that
# time, which the packages record: the Debian package would give it to
# them by itself, but the RPM would keep the times of the checkout and of
# the build where they are older.
file(GLOB_RECURSE entries LIST_DIRECTORIES true "${CPACK_TEMPORARY_DIRECTORY}/*")
foreach(entry IN LISTS entries)
  if(IS_DIRECTORY "${entry}" AND NOT IS_SYMLINK "${entry}")
    file(CHMOD "${entry}" PERMISSIONS OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ GROUP_EXECUTE
                                      WORLD_READ WORLD_EXECUTE)
  endif()
endforeach()
if(DEFINED ENV{SOURCE_DATE_EPOCH} AND entries)
  execute_process(COMMAND touch -h -d "@$ENV{SOURCE_DATE_EPOCH}" ${entries} COMMAND_ERROR_IS_FATAL ANY)
endif()
