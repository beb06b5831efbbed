# Runs one test program against the PostgreSQL server named by CASEARCHIVE_TEST_SERVER
# (scripts/test starts a throwaway one); without a server the run is reported skipped.
if(NOT DEFINED ENV{CASEARCHIVE_TEST_SERVER} OR "$ENV{CASEARCHIVE_TEST_SERVER}" STREQUAL "")
  message("SKIPPED: no PostgreSQL server for the tests (scripts/test starts one and sets CASEARCHIVE_TEST_SERVER)")
  return()
endif()
execute_process(COMMAND "${TEST}" RESULT_VARIABLE rc)
if(NOT rc EQUAL 0)
  message(FATAL_ERROR "${TEST} against the server: ${rc}")
endif()
