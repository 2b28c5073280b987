# Host build: the pure logic under sanitizers, native tools, and the driver
# of the two MinGW builds and of the Wine test bench.
include(ExternalProject)

set(CMAKE_RUNTIME_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR}/bin)
set(KELM_SANITIZE -fsanitize=address,undefined -fno-sanitize-recover=all -fno-omit-frame-pointer)

add_library(kelmcore STATIC ${KELM_CORE_SOURCES})
target_include_directories(kelmcore PUBLIC ${CMAKE_SOURCE_DIR})
target_compile_options(kelmcore PUBLIC ${KELM_SANITIZE})
target_link_options(kelmcore PUBLIC ${KELM_SANITIZE})
kelm_warnings(kelmcore)

# Native tools (same core as the Windows builds); built without sanitizers
# so that benchmarks measure the shipping code.
add_library(kelmcore_plain STATIC ${KELM_CORE_SOURCES})
target_include_directories(kelmcore_plain PUBLIC ${CMAKE_SOURCE_DIR})
target_compile_options(kelmcore_plain PRIVATE -O2)
kelm_warnings(kelmcore_plain)
kelm_optional_subdir(tools)

# Native unit tests of the pure logic.
set(BUILD_GMOCK OFF CACHE BOOL "" FORCE)
set(INSTALL_GTEST OFF CACHE BOOL "" FORCE)
add_subdirectory(/usr/src/googletest/googletest ${CMAKE_BINARY_DIR}/googletest EXCLUDE_FROM_ALL)
target_compile_options(gtest PRIVATE ${KELM_SANITIZE})
target_compile_options(gtest_main PRIVATE ${KELM_SANITIZE})

enable_testing()
file(GLOB KELM_NATIVE_TESTS CONFIGURE_DEPENDS ${CMAKE_SOURCE_DIR}/tests/native/*_test.cpp)
foreach(src ${KELM_NATIVE_TESTS})
  get_filename_component(name ${src} NAME_WE)
  add_executable(${name} ${src})
  target_link_libraries(${name} PRIVATE gtest_main kelmcore)
  target_include_directories(${name} PRIVATE ${CMAKE_SOURCE_DIR})
  kelm_warnings(${name})
  # A NAME_test.cmake beside it adds libraries (KELM_TEST_TARGET names it).
  if(EXISTS ${CMAKE_SOURCE_DIR}/tests/native/${name}.cmake)
    set(KELM_TEST_TARGET ${name})
    include(${CMAKE_SOURCE_DIR}/tests/native/${name}.cmake)
  endif()
  add_test(NAME native_${name} COMMAND ${name})
  set_tests_properties(native_${name} PROPERTIES
    ENVIRONMENT "ASAN_OPTIONS=detect_leaks=1:abort_on_error=1;UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1;KELM_SOURCE_DIR=${CMAKE_SOURCE_DIR};KELM_NATIVE_BIN=${CMAKE_BINARY_DIR}/bin")
endforeach()

# The two MinGW builds: i686 ships, x86_64 runs here under Wine.
set(KELM_WIN64_DIR ${CMAKE_BINARY_DIR}/win64)
set(KELM_WIN32_DIR ${CMAKE_BINARY_DIR}/win32)
ExternalProject_Add(win64
  SOURCE_DIR ${CMAKE_SOURCE_DIR}
  BINARY_DIR ${KELM_WIN64_DIR}
  CMAKE_ARGS -DCMAKE_TOOLCHAIN_FILE=${CMAKE_SOURCE_DIR}/cmake/toolchain-x86_64-w64-mingw32.cmake
             -DCMAKE_BUILD_TYPE=RelWithDebInfo -DKELM_WINDOWS_TESTS=ON -DKELM_WERROR=${KELM_WERROR}
  INSTALL_COMMAND "" BUILD_ALWAYS 1 USES_TERMINAL_BUILD 1)
ExternalProject_Add(win32
  SOURCE_DIR ${CMAKE_SOURCE_DIR}
  BINARY_DIR ${KELM_WIN32_DIR}
  CMAKE_ARGS -DCMAKE_TOOLCHAIN_FILE=${CMAKE_SOURCE_DIR}/cmake/toolchain-i686-w64-mingw32.cmake
             -DCMAKE_BUILD_TYPE=MinSizeRel -DKELM_WINDOWS_TESTS=OFF -DKELM_WERROR=${KELM_WERROR}
  INSTALL_COMMAND "" BUILD_ALWAYS 1 USES_TERMINAL_BUILD 1)

# Fuzzers need clang's libFuzzer.
find_program(KELM_CLANGXX clang++)
file(GLOB KELM_FUZZERS CONFIGURE_DEPENDS ${CMAKE_SOURCE_DIR}/tests/fuzz/*_fuzz.cpp)
if(KELM_CLANGXX AND KELM_FUZZERS)
  ExternalProject_Add(fuzz
    SOURCE_DIR ${CMAKE_SOURCE_DIR}
    BINARY_DIR ${CMAKE_BINARY_DIR}/fuzz
    CMAKE_ARGS -DCMAKE_CXX_COMPILER=${KELM_CLANGXX} -DCMAKE_C_COMPILER=clang -DKELM_FUZZ=ON
               -DCMAKE_BUILD_TYPE=RelWithDebInfo -DKELM_WERROR=${KELM_WERROR}
    INSTALL_COMMAND "" BUILD_ALWAYS 1)
  foreach(src ${KELM_FUZZERS})
    get_filename_component(name ${src} NAME_WE)
    add_test(NAME fuzz_${name}
      COMMAND bash ${CMAKE_SOURCE_DIR}/tests/bench/fuzz-run.sh ${CMAKE_BINARY_DIR}/fuzz/bin/${name}
              ${CMAKE_SOURCE_DIR}/tests/fuzz/seeds/${name} ${CMAKE_BINARY_DIR}/fuzz/corpus/${name})
    set_tests_properties(fuzz_${name} PROPERTIES TIMEOUT 300)
  endforeach()
endif()

# The Wine bench: one prefix, one wineserver and one Xvfb for the whole run.
set(KELM_BENCH_DIR ${CMAKE_BINARY_DIR}/bench)
set(KELM_BENCH ${CMAKE_SOURCE_DIR}/tests/bench)
add_test(NAME bench_setup COMMAND ${KELM_BENCH}/wine-setup.sh ${KELM_BENCH_DIR} ${KELM_WIN64_DIR}/bin)
add_test(NAME bench_teardown COMMAND ${KELM_BENCH}/wine-teardown.sh ${KELM_BENCH_DIR})
set_tests_properties(bench_setup PROPERTIES FIXTURES_SETUP wine RESOURCE_LOCK wine TIMEOUT 180)
set_tests_properties(bench_teardown PROPERTIES FIXTURES_CLEANUP wine RESOURCE_LOCK wine)

set(KELM_SCRIPT_ENV
  "KELM_BENCH_DIR=${KELM_BENCH_DIR};KELM_WIN64_BIN=${KELM_WIN64_DIR}/bin;KELM_WIN32_BIN=${KELM_WIN32_DIR}/bin;KELM_NATIVE_BIN=${CMAKE_BINARY_DIR}/bin;KELM_SOURCE_DIR=${CMAKE_SOURCE_DIR}")

file(GLOB KELM_WINE_TESTS CONFIGURE_DEPENDS ${CMAKE_SOURCE_DIR}/tests/wine/*_test.cpp)
foreach(src ${KELM_WINE_TESTS})
  get_filename_component(name ${src} NAME_WE)
  add_test(NAME wine_${name} COMMAND ${KELM_BENCH}/wine-run.sh ${KELM_WIN64_DIR}/bin/${name}.exe)
  set_tests_properties(wine_${name} PROPERTIES FIXTURES_REQUIRED wine RESOURCE_LOCK wine
    TIMEOUT 600 ENVIRONMENT "${KELM_SCRIPT_ENV}")
endforeach()

# The README's demonstration, as built here, in a prefix and wineserver of its
# own; one Wine session at a time keeps its bounded waits honest on 2 cores.
add_test(NAME demo COMMAND bash ${CMAKE_SOURCE_DIR}/tools/demo.sh --no-build --build-dir ${CMAKE_BINARY_DIR}
                           --dir ${CMAKE_BINARY_DIR}/demotest)
set_tests_properties(demo PROPERTIES RESOURCE_LOCK wine TIMEOUT 600)

# Shell-driven tests: tests/script/NAME_test.sh; those named wine_* use the bench.
file(GLOB KELM_SCRIPT_TESTS CONFIGURE_DEPENDS ${CMAKE_SOURCE_DIR}/tests/script/*_test.sh)
foreach(src ${KELM_SCRIPT_TESTS})
  get_filename_component(name ${src} NAME_WE)
  add_test(NAME script_${name} COMMAND bash ${src})
  set_tests_properties(script_${name} PROPERTIES TIMEOUT 900 ENVIRONMENT "${KELM_SCRIPT_ENV}")
  if(name MATCHES "^wine_")
    set_tests_properties(script_${name} PROPERTIES FIXTURES_REQUIRED wine RESOURCE_LOCK wine)
  endif()
endforeach()

# Test programs run in a Windows 98 prefix and wineserver of their own
# (tests/bench/wine98-run.sh): the program and the suffix of its prefix.
foreach(entry kelmctl98_test:98ctl kelmcfg98_test:98cfg)
  string(REPLACE ":" ";" entry ${entry})
  list(GET entry 0 name)
  list(GET entry 1 suffix)
  add_test(NAME script_${name} COMMAND bash ${KELM_BENCH}/wine98-run.sh ${suffix} ${name}.exe)
  set_tests_properties(script_${name} PROPERTIES TIMEOUT 900 ENVIRONMENT "${KELM_SCRIPT_ENV}")
endforeach()
