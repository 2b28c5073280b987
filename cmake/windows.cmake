# Cross build of the deliverables (and, for x86_64, the Windows test programs).
enable_language(RC)

set(CMAKE_RUNTIME_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR}/bin)
set(CMAKE_LIBRARY_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR}/bin)
# No MinGW runtime DLLs to ship.
set(CMAKE_EXE_LINKER_FLAGS "${CMAKE_EXE_LINKER_FLAGS} -static -static-libgcc -static-libstdc++")
set(CMAKE_SHARED_LINKER_FLAGS "${CMAKE_SHARED_LINKER_FLAGS} -static -static-libgcc -static-libstdc++")
add_compile_definitions(WIN32_LEAN_AND_MEAN _WIN32_WINNT=0x0501 WINVER=0x0501 _CRT_SECURE_NO_WARNINGS)
set(CMAKE_RC_FLAGS "${CMAKE_RC_FLAGS} -I${CMAKE_SOURCE_DIR}/resources -I${CMAKE_SOURCE_DIR}/common")

set(KELM_WIN_LIBS kernel32 user32 gdi32 advapi32 comctl32 comdlg32 shell32 shlwapi setupapi ole32 oleaut32 uuid)

add_library(kelmcore STATIC ${KELM_CORE_SOURCES})
target_include_directories(kelmcore PUBLIC ${CMAKE_SOURCE_DIR})
kelm_warnings(kelmcore)

file(GLOB KELM_WIN_SOURCES CONFIGURE_DEPENDS ${CMAKE_SOURCE_DIR}/common/win32/*.cpp)
add_library(kelmwin STATIC ${KELM_WIN_SOURCES})
target_link_libraries(kelmwin PUBLIC kelmcore ${KELM_WIN_LIBS})
kelm_warnings(kelmwin)

# Every executable and library carries a VERSIONINFO block; an optional
# fourth argument gives the file type (VFT_DLL for a library).
function(kelm_versioninfo target description filename)
  set(KELM_FILE_DESCRIPTION "${description}")
  set(KELM_ORIGINAL_FILENAME "${filename}")
  set(KELM_FILE_TYPE VFT_APP)
  if(ARGC GREATER 3)
    set(KELM_FILE_TYPE ${ARGV3})
  endif()
  set(out ${CMAKE_CURRENT_BINARY_DIR}/${target}_version.rc)
  configure_file(${CMAKE_SOURCE_DIR}/resources/version.rc.in ${out} @ONLY)
  target_sources(${target} PRIVATE ${out})
endfunction()

# A command-line tool of its own folder: its sources, kelmwin, the warnings
# and a version block.
function(kelm_windows_tool name description)
  add_executable(${name} ${ARGN})
  target_link_libraries(${name} PRIVATE kelmwin)
  target_include_directories(${name} PRIVATE ${CMAKE_SOURCE_DIR})
  kelm_warnings(${name})
  kelm_versioninfo(${name} "${description}" "${name}.exe")
endfunction()

foreach(dir common service cfg ctl98 shellext setup uninst hotkey standins tools)
  kelm_optional_subdir(${dir})
endforeach()

option(KELM_WINDOWS_TESTS "Build the Windows test programs" OFF)
if(KELM_WINDOWS_TESTS)
  set(BUILD_GMOCK OFF CACHE BOOL "" FORCE)
  set(INSTALL_GTEST OFF CACHE BOOL "" FORCE)
  set(gtest_disable_pthreads OFF CACHE BOOL "" FORCE)
  add_subdirectory(/usr/src/googletest/googletest ${CMAKE_BINARY_DIR}/googletest EXCLUDE_FROM_ALL)
  # Test equipment with its own targets (helper programs, hook DLLs): each
  # tests/wine/DIR with a CMakeLists.txt.
  file(GLOB KELM_WINE_EQUIPMENT LIST_DIRECTORIES true ${CMAKE_SOURCE_DIR}/tests/wine/*)
  foreach(d ${KELM_WINE_EQUIPMENT})
    if(IS_DIRECTORY ${d} AND EXISTS ${d}/CMakeLists.txt)
      get_filename_component(n ${d} NAME)
      add_subdirectory(${d} ${CMAKE_BINARY_DIR}/tests/wine/${n})
    endif()
  endforeach()
  # One program per tests/wine/NAME_test.cpp. A NAME_test.rc beside it is
  # compiled in; a NAME_test.cmake beside it adds sources or libraries
  # (the variable KELM_TEST_TARGET names the program).
  file(GLOB KELM_WINE_TESTS CONFIGURE_DEPENDS ${CMAKE_SOURCE_DIR}/tests/wine/*_test.cpp)
  foreach(src ${KELM_WINE_TESTS})
    get_filename_component(name ${src} NAME_WE)
    add_executable(${name} ${src})
    target_link_libraries(${name} PRIVATE gtest_main kelmwin)
    target_include_directories(${name} PRIVATE ${CMAKE_SOURCE_DIR} ${CMAKE_SOURCE_DIR}/tests/wine)
    kelm_warnings(${name})
    if(EXISTS ${CMAKE_SOURCE_DIR}/tests/wine/${name}.rc)
      target_sources(${name} PRIVATE ${CMAKE_SOURCE_DIR}/tests/wine/${name}.rc)
    endif()
    if(EXISTS ${CMAKE_SOURCE_DIR}/tests/wine/${name}.cmake)
      set(KELM_TEST_TARGET ${name})
      include(${CMAKE_SOURCE_DIR}/tests/wine/${name}.cmake)
    endif()
  endforeach()
endif()
