# KelmCfg, its hot-key library, the service, the stand-ins and kelmsim must
# be built before this test runs.
foreach(t KelmCfg kelmhkey kelmsvc kelmsim keylog openrecv)
  if(TARGET ${t})
    add_dependencies(${KELM_TEST_TARGET} ${t})
  endif()
endforeach()
