# Writes one CTest test per GoogleTest suite of the test binary, so that a
# suite's tests share one process (each start of the sanitized binary costs
# a few hundred milliseconds). Run after every build of the binary:
#   cmake -DTEST_EXE=... -DOUT=... -DTEST_ENV=... -P discover_suites.cmake
set(listing "${OUT}.json")
execute_process(
  COMMAND "${TEST_EXE}" --gtest_list_tests "--gtest_output=json:${listing}"
  OUTPUT_QUIET
  RESULT_VARIABLE rc)
if(NOT rc EQUAL 0)
  message(FATAL_ERROR "listing the tests of ${TEST_EXE} failed: ${rc}")
endif()
file(READ "${listing}" json)
string(JSON count LENGTH "${json}" testsuites)
set(content "")
math(EXPR last "${count} - 1")
foreach(i RANGE ${last})
  string(JSON suite GET "${json}" testsuites ${i} name)
  string(APPEND content
    "add_test([==[${suite}]==] [==[${TEST_EXE}]==] [==[--gtest_filter=${suite}.*]==])\n"
    "set_tests_properties([==[${suite}]==] PROPERTIES ENVIRONMENT [==[${TEST_ENV}]==])\n")
endforeach()
file(WRITE "${OUT}" "${content}")
