# KelmCfg, the service, the stand-ins and the menu spy must be built first.
foreach(t KelmCfg kelmhkey kelmsvc kelmsim kelmmenuspy)
  if(TARGET ${t})
    add_dependencies(${KELM_TEST_TARGET} ${t})
  endif()
endforeach()
