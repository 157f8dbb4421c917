# Tests of the real platform layer and of the built programs, each in a
# private network namespace of its own (skipped where namespaces can't be
# made).  Their CTest names begin with "sys.".

# The platform layer: kstat and the interface requests against the kernel,
# once with the counters from the statistics dump and once from
# /proc/net/dev, as where the dump is refused.
add_executable(zvsys_platform ${CMAKE_CURRENT_SOURCE_DIR}/test_platform.cpp)
target_link_libraries(zvsys_platform PRIVATE zvsupport zvplatform GTest::gtest_main)
zorvat_add_tests(zvsys_platform TEST_PREFIX "sys.")
if(NOT ZORVAT_PROCFS_ONLY)
  add_executable(zvsys_platform_procfs ${CMAKE_CURRENT_SOURCE_DIR}/test_platform.cpp)
  target_link_libraries(zvsys_platform_procfs PRIVATE zvsupport zvplatform_procfs GTest::gtest_main)
  zorvat_add_tests(zvsys_platform_procfs TEST_PREFIX "sys.procfs.")
endif()

# The programs: command line, and reports of real links and real traffic.
foreach(name cmdline e2e)
  set(t zvsys_${name})
  add_executable(${t} ${CMAKE_CURRENT_SOURCE_DIR}/test_${name}.cpp)
  target_link_libraries(${t} PRIVATE zvsupport GTest::gtest_main)
  # The revision that the program named zorvat is.
  target_compile_definitions(${t} PRIVATE ZORVAT_PROGRAM_REVISION="${ZORVAT_PROGRAM_REVISION}")
  add_dependencies(${t} zorvat2 zorvat3 zorvat zorvat-1.9 zorvat-1.7)
  zorvat_add_tests(${t} TEST_PREFIX "sys.")
endforeach()
