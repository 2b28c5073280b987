# Shared by every configuration: source sets and warning flags.

# Pure logic: no Win32 headers, builds on the host too.
file(GLOB KELM_CORE_SOURCES CONFIGURE_DEPENDS
  ${CMAKE_SOURCE_DIR}/common/*.cpp
  ${CMAKE_SOURCE_DIR}/service/logic/*.cpp
  ${CMAKE_SOURCE_DIR}/cfg/logic/*.cpp
  ${CMAKE_SOURCE_DIR}/ctl98/logic/*.cpp
  ${CMAKE_SOURCE_DIR}/shellext/logic/*.cpp)

function(kelm_warnings target)
  target_compile_options(${target} PRIVATE -Wall -Wextra)
  if(KELM_WERROR)
    target_compile_options(${target} PRIVATE -Werror)
  endif()
endfunction()

option(KELM_WERROR "Treat warnings as errors in the suite's own code" ON)

# Include a directory's CMakeLists only when it has one, so parts of the
# suite can arrive one at a time.
macro(kelm_optional_subdir dir)
  if(EXISTS ${CMAKE_SOURCE_DIR}/${dir}/CMakeLists.txt)
    add_subdirectory(${CMAKE_SOURCE_DIR}/${dir} ${CMAKE_BINARY_DIR}/${dir})
  endif()
endmacro()
