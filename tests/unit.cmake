# The fakes of the platform layer, linked after the libraries under test.
add_library(zvfakes STATIC fake_kstat.cpp fake_sockio.cpp fake_clock.cpp)
target_include_directories(zvfakes PUBLIC ${PROJECT_SOURCE_DIR})

# A unit test program for one revision: its sources built against that
# revision's libraries and the fakes.
function(zorvat_unit_test name rev)
  add_executable(${name} ${ARGN})
  if(rev EQUAL 30)
    target_link_libraries(${name} PRIVATE zvlistmon zvcore30 zvfakes GTest::gtest_main)
  elseif(name MATCHES "discover")
    target_link_libraries(${name} PRIVATE zvdiscover${rev} zvcore${rev} zvfakes GTest::gtest_main)
  else()
    target_link_libraries(${name} PRIVATE zvcore${rev} zvfakes GTest::gtest_main)
  endif()
  zorvat_add_tests(${name} TEST_PREFIX "${name}.")
endfunction()

zorvat_unit_test(unit_core 20 test_banner.cpp test_report.cpp test_format.cpp test_args.cpp
  test_schedule.cpp)
foreach(rev 20 17)
  zorvat_unit_test(unit_sample${rev} ${rev} test_sample.cpp)
endforeach()
foreach(rev 20 19 17)
  zorvat_unit_test(unit_discover${rev} ${rev} test_discover.cpp)
endforeach()
zorvat_unit_test(unit_listmon 30 test_listmon.cpp)
