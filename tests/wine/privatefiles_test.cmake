include(${CMAKE_SOURCE_DIR}/cfg/privatefiles.cmake)
target_link_libraries(${KELM_TEST_TARGET} PRIVATE kelmcfgprivate comdlg32)
target_sources(${KELM_TEST_TARGET} PRIVATE ${KELM_PRIVATEFILES_RC})
add_dependencies(${KELM_TEST_TARGET} kelm_decoration_files kelm_language_file)
