# Shared build rules: warning flags, sanitizers, and one helper per kind of target so that a
# folder's CMakeLists.txt names only what is its own.

set(MURAVEL_ROOT ${CMAKE_SOURCE_DIR})
set(MURAVEL_WARNINGS -Wall -Wextra -Wpedantic -Werror -Wno-unused-parameter)

if(MURAVEL_SANITIZE)
  add_compile_options(-fsanitize=address,undefined -fno-sanitize-recover=undefined
                      -fno-omit-frame-pointer)
  add_link_options(-fsanitize=address,undefined)
endif()
if(MURAVEL_FUZZ)
  # Coverage for libFuzzer in every library, so that the fuzz targets see into the parsers.
  add_compile_options(-fsanitize=fuzzer-no-link)
endif()

# muravel_library(name [BACKEND] [DEPS lib...] [SOURCES extra...]): a static library of the
# folder's *.cpp. A BACKEND is an object library: the subsystems below it in the link line call
# into it, so its objects are always linked whole.
function(muravel_library name)
  cmake_parse_arguments(ARG "BACKEND" "" "DEPS;PUBLIC_DEPS;SOURCES" ${ARGN})
  file(GLOB srcs CONFIGURE_DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/*.cpp)
  list(APPEND srcs ${ARG_SOURCES})
  set(kind STATIC)
  if(ARG_BACKEND)
    set(kind OBJECT)
  endif()
  if(srcs)
    add_library(${name} ${kind} ${srcs})
    target_include_directories(${name} PUBLIC ${MURAVEL_ROOT})
    target_compile_options(${name} PRIVATE ${MURAVEL_WARNINGS})
    target_link_libraries(${name} PUBLIC ${ARG_DEPS} ${ARG_PUBLIC_DEPS})
  else()
    add_library(${name} INTERFACE)
    target_include_directories(${name} INTERFACE ${MURAVEL_ROOT})
    target_link_libraries(${name} INTERFACE ${ARG_DEPS} ${ARG_PUBLIC_DEPS})
  endif()
endfunction()

# muravel_test(name DEPS lib...): one GoogleTest program of the folder's *_test.cpp files.
find_package(GTest REQUIRED)
include(GoogleTest)
function(muravel_test name)
  cmake_parse_arguments(ARG "" "" "DEPS;SOURCES;LABELS" ${ARGN})
  file(GLOB srcs CONFIGURE_DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/*_test.cpp)
  list(APPEND srcs ${ARG_SOURCES})
  if(NOT srcs)
    return()
  endif()
  add_executable(${name} ${srcs})
  target_compile_options(${name} PRIVATE ${MURAVEL_WARNINGS})
  target_compile_definitions(${name} PRIVATE
      MURAVEL_SOURCE_DIR="${MURAVEL_ROOT}" MURAVEL_BINARY_DIR="${CMAKE_BINARY_DIR}")
  target_link_libraries(${name} PRIVATE ${ARG_DEPS} muravel_testsupport GTest::gtest_main
                        GTest::gmock)
  # Tests are named <program>.<suite>.<test>, so that `ctest -R '^net_tests\.'` picks one
  # program. All are labelled "unit"; extra LABELS are accepted but cannot pass through the
  # discovery script as a list.
  gtest_discover_tests(${name} DISCOVERY_TIMEOUT 60 TEST_PREFIX "${name}."
                       PROPERTIES TIMEOUT 300 LABELS unit)
endfunction()

# muravel_fuzz(name DEPS lib...): a libFuzzer target from fuzz/<name>.cpp, run by ctest for
# MURAVEL_FUZZ_SECONDS over a copy of fuzz/corpus/<name>.
set(MURAVEL_FUZZ_SECONDS 60 CACHE STRING "Seconds each fuzz target runs in the test suite")
function(muravel_fuzz name)
  cmake_parse_arguments(ARG "" "" "DEPS" ${ARGN})
  add_executable(fuzz_${name} ${CMAKE_CURRENT_SOURCE_DIR}/${name}.cpp)
  target_compile_options(fuzz_${name} PRIVATE ${MURAVEL_WARNINGS})
  target_link_libraries(fuzz_${name} PRIVATE ${ARG_DEPS})
  target_link_options(fuzz_${name} PRIVATE -fsanitize=fuzzer)
  add_test(NAME fuzz.${name}
           COMMAND ${MURAVEL_ROOT}/fuzz/run-fuzz $<TARGET_FILE:fuzz_${name}>
                   ${MURAVEL_ROOT}/fuzz/corpus/${name} ${MURAVEL_FUZZ_SECONDS})
  set_tests_properties(fuzz.${name} PROPERTIES LABELS fuzz TIMEOUT 900)
endfunction()

# muravel_bench(name DEPS lib...): a Google Benchmark program from bench/<name>.cpp.
function(muravel_bench name)
  cmake_parse_arguments(ARG "" "" "DEPS;SOURCES" ${ARGN})
  find_package(benchmark REQUIRED)
  add_executable(bench_${name} ${CMAKE_CURRENT_SOURCE_DIR}/${name}.cpp ${ARG_SOURCES})
  target_compile_options(bench_${name} PRIVATE ${MURAVEL_WARNINGS})
  target_link_libraries(bench_${name} PRIVATE ${ARG_DEPS} benchmark::benchmark)
endfunction()
