# The shell extension with the real tray program, service and stand-ins.
foreach(t shhost kelmsh KelmCfg kelmhkey kelmsvc kelmsim keylog kelm_decoration_files kelm_language_file)
  if(TARGET ${t})
    add_dependencies(${KELM_TEST_TARGET} ${t})
  endif()
endforeach()
