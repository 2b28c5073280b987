target_link_libraries(${KELM_TEST_TARGET} PRIVATE kelmcfgimage)
# The reference image comes from kelmimg.exe of the same build.
if(TARGET kelmimg)
  add_dependencies(${KELM_TEST_TARGET} kelmimg)
endif()
