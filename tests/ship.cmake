# Shipping: the manual pages render without warnings, and the install rules
# (and the Debian package, where dpkg is here) put the programs and pages
# where they belong; lintian, where it is here, finds nothing wrong with
# the package.  Skipped (77) when groff is missing.
set(zorvat_ship_emulator)
if(CMAKE_CROSSCOMPILING AND CMAKE_CROSSCOMPILING_EMULATOR)
  list(JOIN CMAKE_CROSSCOMPILING_EMULATOR " " zorvat_ship_emulator)
endif()
# Whether the programs carry the hardening flags of the top-level
# CMakeLists.txt (_FORTIFY_SOURCE needs an optimised build) and show it:
# with clang, the C library's headers check fewer calls (the checked
# printf needs a builtin of g++), too few for lintian to see.
if(ZORVAT_HARDEN AND NOT ZORVAT_SANITIZE AND NOT ZORVAT_FUZZ AND CMAKE_CXX_COMPILER_ID STREQUAL "GNU")
  set(zorvat_hardened $<IF:$<CONFIG:Debug>,OFF,ON>)
else()
  set(zorvat_hardened OFF)
endif()
add_test(NAME install_and_pages
         COMMAND sh ${CMAKE_CURRENT_SOURCE_DIR}/install_test.sh
                 ${PROJECT_SOURCE_DIR} ${PROJECT_BINARY_DIR} ${ZORVAT_PROGRAM_REVISION} ${zorvat_hardened})
set_tests_properties(install_and_pages PROPERTIES
                     SKIP_RETURN_CODE 77
                     TIMEOUT 300
                     LABELS ship
                     ENVIRONMENT "ZORVAT_SHIP_EMULATOR=${zorvat_ship_emulator}")
# Bash completion as bash-completion loads it from an installation;
# skipped (77) without bash-completion.
add_test(NAME completion
         COMMAND sh ${CMAKE_CURRENT_SOURCE_DIR}/completion_test.sh ${PROJECT_BINARY_DIR})
set_tests_properties(completion PROPERTIES SKIP_RETURN_CODE 77 TIMEOUT 60 LABELS ship)
