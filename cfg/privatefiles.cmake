# The private files dialog: a library for KelmCfg and its tests. The
# program (or test) that shows it also compiles resources/privatefiles.rc.
if(NOT TARGET kelmcfgprivate)
  add_library(kelmcfgprivate STATIC ${CMAKE_SOURCE_DIR}/cfg/privatefiles.cpp)
  target_link_libraries(kelmcfgprivate PUBLIC kelmwin comctl32)
  target_include_directories(kelmcfgprivate PUBLIC ${CMAKE_SOURCE_DIR})
  kelm_warnings(kelmcfgprivate)
endif()
set(KELM_PRIVATEFILES_RC ${CMAKE_SOURCE_DIR}/resources/privatefiles.rc)
