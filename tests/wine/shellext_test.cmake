# The shell extension and the host program that loads it as Explorer does.
add_executable(shhost ${CMAKE_SOURCE_DIR}/tests/wine/shhost.cpp)
target_include_directories(shhost PRIVATE ${CMAKE_SOURCE_DIR} ${CMAKE_SOURCE_DIR}/tests/wine)
target_link_libraries(shhost PRIVATE ole32 shell32 shlwapi comctl32 psapi user32 gdi32 advapi32 uuid)
kelm_warnings(shhost)
add_dependencies(${KELM_TEST_TARGET} shhost kelmsh kelm_decoration_files kelm_language_file)
