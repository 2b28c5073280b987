# The hot-key library (linked by name, as the tray program does), its
# every-key build and the key counting window keylog.exe.
target_link_libraries(${KELM_TEST_TARGET} PRIVATE kelmhkey version)
foreach(t keylog kelmhkey_everykey)
  if(TARGET ${t})
    add_dependencies(${KELM_TEST_TARGET} ${t})
  endif()
endforeach()
