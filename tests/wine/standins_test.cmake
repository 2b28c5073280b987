# The stand-ins and kelmsim must be built before this test runs.
if(TARGET kelmsim)
  add_dependencies(${KELM_TEST_TARGET} kelmsim)
endif()
