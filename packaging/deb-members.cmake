# Run by cpack once it has made a Debian package (CPACK_POST_BUILD_SCRIPTS):
# the members of the package's ar archive (debian-binary, control.tar.*,
# data.tar.*) are marked rw-r--r--, as dpkg-deb marks them.  cpack gives
# them the modes of the files it wrote them from, which follow the umask
# of the one who builds, so that two builds of the same files under
# different umasks would differ.
#
# An ar archive is "!<arch>\n" and then, for each member, a header of 60
# characters (name 16, time 12, owner 6, group 6, mode 8, size 10, "`\n")
# and the member's bytes, padded to an even length.
foreach(package IN LISTS CPACK_PACKAGE_FILES)
  if(NOT package MATCHES "\\.deb$")
    continue()
  endif()
  file(SIZE "${package}" size)
  set(mode "${CPACK_TOPLEVEL_DIRECTORY}/ar-member-mode")
  file(WRITE "${mode}" "100644  ")
  set(at 8)
  while(at LESS size)
    file(READ "${package}" header OFFSET ${at} LIMIT 60)
    if(NOT header MATCHES "`\n$")
      message(FATAL_ERROR "${package}: no ar member header at byte ${at}")
    endif()
    string(SUBSTRING "${header}" 48 10 length)
    string(STRIP "${length}" length)
    math(EXPR modeat "${at} + 40")
    execute_process(COMMAND dd "of=${package}" bs=1 seek=${modeat} conv=notrunc status=none
                    INPUT_FILE "${mode}" COMMAND_ERROR_IS_FATAL ANY)
    math(EXPR at "${at} + 60 + ${length} + ${length} % 2")
  endwhile()
  file(REMOVE "${mode}")
endforeach()
