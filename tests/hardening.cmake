# Hardening: the programs under valgrind, and faults from outside (full
# device, a reader that goes away, stop and continue, a long run).

# valgrind memcheck of a run of several turns of each program.  Skipped
# (77) without valgrind, under an emulator, and in a sanitizer build
# (valgrind can't run those programs).
add_test(NAME hard.valgrind
  COMMAND ${CMAKE_CURRENT_LIST_DIR}/valgrind_test.sh
          $<TARGET_FILE:zorvat2> $<TARGET_FILE:zorvat> $<TARGET_FILE:zorvat3>)
set(zorvat_valgrind_env)
if(ZORVAT_SANITIZE)
  list(APPEND zorvat_valgrind_env ZORVAT_SANITIZE=ON)
endif()
if(CMAKE_CROSSCOMPILING AND CMAKE_CROSSCOMPILING_EMULATOR)
  list(APPEND zorvat_valgrind_env ZORVAT_EMULATOR=${PROJECT_BINARY_DIR}/emulator)
endif()
set_tests_properties(hard.valgrind PROPERTIES SKIP_RETURN_CODE 77 TIMEOUT 300)
if(zorvat_valgrind_env)
  set_tests_properties(hard.valgrind PROPERTIES ENVIRONMENT "${zorvat_valgrind_env}")
endif()

# The fault tests, in private network namespaces.
add_executable(zvhard_faults ${CMAKE_CURRENT_LIST_DIR}/test_faults.cpp)
target_link_libraries(zvhard_faults PRIVATE zvsupport GTest::gtest_main)
add_dependencies(zvhard_faults zorvat2 zorvat3 zorvat)
zorvat_add_tests(zvhard_faults TEST_PREFIX "hard.")
