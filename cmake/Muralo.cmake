# Shared build settings and the helpers every folder uses to add its targets.

add_library(muralo_warnings INTERFACE)
target_compile_options(muralo_warnings INTERFACE
  -Wall -Wextra -Wpedantic -Wshadow -Wnon-virtual-dtor -Wcast-align -Wunused
  -Woverloaded-virtual -Wimplicit-fallthrough)
if(MURALO_WERROR)
  target_compile_options(muralo_warnings INTERFACE -Werror)
endif()

if(MURALO_SANITIZE)
  add_compile_options(-fsanitize=address,undefined -fno-sanitize-recover=undefined -fno-omit-frame-pointer)
  add_link_options(-fsanitize=address,undefined)
endif()

if(MURALO_FUZZ)
  # Every library is instrumented for coverage; the fuzz targets add the libFuzzer driver.
  # Undefined behaviour stops the fuzzer at its first report, as a crash does.
  add_compile_options(-fsanitize=fuzzer-no-link,address,undefined -fno-sanitize-recover=all -fno-omit-frame-pointer)
  add_link_options(-fsanitize=address,undefined)
endif()

# muralo_library(NAME SOURCES ... LIBS ...): one static library of a layer.
function(muralo_library name)
  cmake_parse_arguments(ARG "" "" "SOURCES;LIBS;PRIVATE_LIBS" ${ARGN})
  add_library(${name} STATIC ${ARG_SOURCES})
  target_include_directories(${name} PUBLIC ${PROJECT_SOURCE_DIR})
  target_link_libraries(${name} PUBLIC ${ARG_LIBS} PRIVATE muralo_warnings ${ARG_PRIVATE_LIBS})
endfunction()

# muralo_test(NAME SOURCES ... LIBS ... [ENV var=value ...] [LABELS ...]): a GoogleTest program run by CTest.
function(muralo_test name)
  cmake_parse_arguments(ARG "" "TIMEOUT" "SOURCES;LIBS;ENV;LABELS" ${ARGN})
  find_package(GTest REQUIRED)
  add_executable(${name} ${ARG_SOURCES})
  target_link_libraries(${name} PRIVATE ${ARG_LIBS} GTest::gtest GTest::gtest_main muralo_warnings)
  target_include_directories(${name} PRIVATE ${PROJECT_SOURCE_DIR} ${PROJECT_SOURCE_DIR}/tests)
  if(CMAKE_CXX_COMPILER_ID STREQUAL "GNU")
    # GCC 12 at -O2 reports false array-bounds/stringop-overflow/overread errors inside libstdc++'s inlined
    # memmove when tests build byte vectors with insert/copy; the library code keeps both warnings.
    target_compile_options(${name} PRIVATE -Wno-array-bounds -Wno-stringop-overflow -Wno-stringop-overread)
  endif()
  if(ARG_ENV)
    # gtest_discover_tests keeps only the first variable of a list-valued ENVIRONMENT property, so the
    # test's own variables go through `cmake -E env` in front of the program (discovery and runs).
    set_target_properties(${name} PROPERTIES CROSSCOMPILING_EMULATOR "${CMAKE_COMMAND};-E;env;${ARG_ENV}")
  endif()
  if(NOT ARG_TIMEOUT)
    set(ARG_TIMEOUT 300)
  endif()
  include(GoogleTest)
  gtest_discover_tests(${name}
    DISCOVERY_MODE PRE_TEST
    DISCOVERY_TIMEOUT 60
    WORKING_DIRECTORY ${CMAKE_CURRENT_BINARY_DIR}
    PROPERTIES TIMEOUT ${ARG_TIMEOUT} ENVIRONMENT "MURALO_SOURCE_DIR=${PROJECT_SOURCE_DIR}"
               LABELS "${ARG_LABELS}")
endfunction()

# muralo_fuzzer(NAME SOURCES ... LIBS ... [DEFINES ...] [CORPUS dir] [SECONDS n]): a fuzz target, whose
# sources define LLVMFuzzerTestOneInput (DEFINES: its compile definitions). In the fuzz build it is a
# libFuzzer program, and CTest runs it for SECONDS (5) from its seed corpus (label fuzz). In the other
# builds the same sources are linked with fuzz/ReplayMain.cpp into a program that hands every file of
# the corpus to the target once, and CTest runs that (label fuzz-replay): the seeds and kept finds are
# replayed with each compiler and under the sanitizers.
function(muralo_fuzzer name)
  cmake_parse_arguments(ARG "" "CORPUS;SECONDS" "SOURCES;LIBS;DEFINES" ${ARGN})
  if(MURALO_FUZZ)
    add_executable(${name} ${ARG_SOURCES})
    target_link_options(${name} PRIVATE -fsanitize=fuzzer)
  else()
    add_executable(${name} ${ARG_SOURCES})
    if(NOT TARGET muralo_fuzz_replay)
      add_library(muralo_fuzz_replay STATIC ${PROJECT_SOURCE_DIR}/fuzz/ReplayMain.cpp)
      target_include_directories(muralo_fuzz_replay PRIVATE ${PROJECT_SOURCE_DIR})
      target_link_libraries(muralo_fuzz_replay PRIVATE muralo_warnings)
    endif()
    target_link_libraries(${name} PRIVATE muralo_fuzz_replay)
  endif()
  target_link_libraries(${name} PRIVATE ${ARG_LIBS} muralo_warnings)
  target_include_directories(${name} PRIVATE ${PROJECT_SOURCE_DIR})
  target_compile_definitions(${name} PRIVATE ${ARG_DEFINES})
  if(NOT ARG_CORPUS)
    return()
  endif()
  if(MURALO_FUZZ)
    if(NOT ARG_SECONDS)
      set(ARG_SECONDS 5)
    endif()
    # An input may take 30 s: a few kept seeds decode pictures of millions of pixels, some seconds
    # each under the fuzz build's instrumentation, more on a loaded machine.
    set(work ${CMAKE_CURRENT_BINARY_DIR}/${name}-corpus)
    add_test(NAME ${name}
      COMMAND ${CMAKE_COMMAND} -E env ASAN_OPTIONS=detect_leaks=0
              sh -c "mkdir -p '${work}' && exec '$<TARGET_FILE:${name}>' -max_total_time=${ARG_SECONDS} -rss_limit_mb=2048 -timeout=30 '${work}' '${ARG_CORPUS}'")
    set_tests_properties(${name} PROPERTIES LABELS fuzz TIMEOUT 120)
  else()
    add_test(NAME ${name} COMMAND ${name} ${ARG_CORPUS})
    set_tests_properties(${name} PROPERTIES LABELS fuzz-replay TIMEOUT 300)
  endif()
endfunction()

# muralo_benchmark(NAME SOURCES ... LIBS ...): a Google Benchmark program (not run by CTest).
function(muralo_benchmark name)
  cmake_parse_arguments(ARG "" "" "SOURCES;LIBS" ${ARGN})
  find_package(benchmark REQUIRED)
  add_executable(${name} ${ARG_SOURCES})
  target_link_libraries(${name} PRIVATE ${ARG_LIBS} benchmark::benchmark benchmark::benchmark_main muralo_warnings)
  target_include_directories(${name} PRIVATE ${PROJECT_SOURCE_DIR})
endfunction()
