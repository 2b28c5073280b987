# The service, the stand-ins and kelmsim must be built before this test runs.
foreach(t kelmsvc kelmsim)
  if(TARGET ${t})
    add_dependencies(${KELM_TEST_TARGET} ${t})
  endif()
endforeach()
