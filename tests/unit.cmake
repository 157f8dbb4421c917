# Unit tests of the core, discovery and the interface table, against the
# fakes of the platform layer.

# A unit test program: its sources built against the given libraries of
# one revision, and the fakes.
function(zorvat_unit_test name)
  cmake_parse_arguments(PARSE_ARGV 1 arg "" "" "SOURCES;LIBRARIES")
  add_executable(${name} ${arg_SOURCES})
  target_link_libraries(${name} PRIVATE ${arg_LIBRARIES} zvfakes zvsupport GTest::gtest_main)
  zorvat_add_tests(${name} TEST_PREFIX "${name}.")
endfunction()

zorvat_unit_test(unit_core
  SOURCES test_banner.cpp test_report.cpp test_args.cpp test_schedule.cpp
  LIBRARIES zvcore20)
foreach(rev 20 17)
  zorvat_unit_test(unit_sample${rev} SOURCES test_sample.cpp LIBRARIES zvcore${rev})
endforeach()
foreach(rev 20 19 17)
  zorvat_unit_test(unit_discover${rev} SOURCES test_discover.cpp LIBRARIES zvdiscover${rev} zvcore${rev})
endforeach()
zorvat_unit_test(unit_listmon SOURCES test_listmon.cpp LIBRARIES zvlistmon zvcore30)

# The Linux readers of the kernel's tables, on recorded answers.
add_executable(unit_readers test_readers.cpp)
target_link_libraries(unit_readers PRIVATE zvplatform GTest::gtest_main)
target_compile_definitions(unit_readers PRIVATE ZORVAT_FIXTURES="${CMAKE_CURRENT_SOURCE_DIR}/fixtures")
zorvat_add_tests(unit_readers TEST_PREFIX "unit_readers.")
