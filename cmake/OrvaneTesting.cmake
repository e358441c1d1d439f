# Test helpers shared by every folder.
#
#   orvane_test(NAME SOURCES src... [LIBS lib...] [WINDOWS_ONLY] [NATIVE_ONLY]
#               [ARGS arg...] [PROPERTIES prop value...])
#       A GoogleTest executable registered as one CTest test. On the Windows
#       build it runs under Wine (the cross-compiling emulator) and requires the
#       "wine" fixture, which creates the run's prefix and display once.
#
#   orvane_fuzz_target(NAME SOURCES src... [LIBS lib...] [SECONDS n])
#       A libFuzzer target (native clang build with the sanitizers only: the
#       coverage it compiles into LIBS needs their runtime, so an optimised
#       clang build for benchmarks has none), run briefly as a test
#       from the seed inputs in corpus/NAME/ beside its CMakeLists.txt, after
#       replaying every input in regressions/NAME/ (inputs that once made it
#       fail). scripts/fuzz.sh runs the targets for longer.

set(INSTALL_GTEST OFF CACHE BOOL "" FORCE)
set(BUILD_GMOCK OFF CACHE BOOL "" FORCE)
set(gtest_disable_pthreads OFF CACHE BOOL "" FORCE)
add_subdirectory(/usr/src/googletest ${CMAKE_BINARY_DIR}/googletest EXCLUDE_FROM_ALL)

if(CMAKE_CROSSCOMPILING)
  set(_wine_run ${CMAKE_SOURCE_DIR}/scripts/wine-run --state ${ORVANE_WINE_STATE})
  add_test(NAME wine_setup COMMAND ${_wine_run} --setup)
  add_test(NAME wine_cleanup COMMAND ${_wine_run} --cleanup)
  set_tests_properties(wine_setup PROPERTIES FIXTURES_SETUP wine)
  set_tests_properties(wine_cleanup PROPERTIES FIXTURES_CLEANUP wine)
endif()

function(orvane_test name)
  cmake_parse_arguments(T "WINDOWS_ONLY;NATIVE_ONLY" "" "SOURCES;LIBS;ARGS;PROPERTIES" ${ARGN})
  if((T_WINDOWS_ONLY AND NOT WIN32) OR (T_NATIVE_ONLY AND WIN32))
    return()
  endif()
  add_executable(${name} ${T_SOURCES})
  target_link_libraries(${name} PRIVATE ${T_LIBS} GTest::gtest_main)
  add_test(NAME ${name} COMMAND ${name} ${T_ARGS})
  if(CMAKE_CROSSCOMPILING)
    set_tests_properties(${name} PROPERTIES FIXTURES_REQUIRED wine)
  endif()
  if(T_PROPERTIES)
    set_tests_properties(${name} PROPERTIES ${T_PROPERTIES})
  endif()
endfunction()

function(orvane_fuzz_target name)
  cmake_parse_arguments(F "" "SECONDS" "SOURCES;LIBS" ${ARGN})
  if(WIN32 OR NOT CMAKE_CXX_COMPILER_ID STREQUAL "Clang" OR NOT ORVANE_SANITIZE)
    return()
  endif()
  if(NOT F_SECONDS)
    set(F_SECONDS 10)
  endif()
  set(seeds ${CMAKE_CURRENT_SOURCE_DIR}/corpus/${name})
  set(regressions ${CMAKE_CURRENT_SOURCE_DIR}/regressions/${name})
  file(GLOB seed_files ${seeds}/*)
  if(NOT seed_files)
    message(FATAL_ERROR "${name}: no seed inputs in ${seeds}")
  endif()
  add_executable(${name} ${F_SOURCES})
  # Optimised: at -O0 every std::string call is a traced out-of-line function
  # and the fuzzer runs several times slower.
  target_compile_options(${name} PRIVATE -fsanitize=fuzzer -O2)
  target_link_options(${name} PRIVATE -fsanitize=fuzzer)
  target_link_libraries(${name} PRIVATE ${F_LIBS})
  # The code under test needs coverage too, or the fuzzer only sees the harness.
  foreach(lib ${F_LIBS})
    target_compile_options(${lib} PRIVATE -fsanitize=fuzzer-no-link -O2)
  endforeach()
  add_test(NAME ${name}
    COMMAND sh ${CMAKE_SOURCE_DIR}/cmake/run-fuzz-test.sh $<TARGET_FILE:${name}> ${F_SECONDS}
            ${CMAKE_CURRENT_BINARY_DIR}/${name}.run ${seeds} ${regressions})
  set_tests_properties(${name} PROPERTIES LABELS fuzz)
  set_property(GLOBAL APPEND PROPERTY ORVANE_FUZZ_TARGETS
    "${name}\t$<TARGET_FILE:${name}>\t${seeds}\t${regressions}\n")
endfunction()

# fuzz-targets.tsv in the build folder lists every fuzz target for
# scripts/fuzz.sh: name, executable, seed folder, regression folder.
function(_orvane_write_fuzz_list)
  get_property(lines GLOBAL PROPERTY ORVANE_FUZZ_TARGETS)
  string(REPLACE ";" "" lines "${lines}")
  file(GENERATE OUTPUT ${CMAKE_BINARY_DIR}/fuzz-targets.tsv CONTENT "${lines}")
endfunction()
cmake_language(DEFER CALL _orvane_write_fuzz_list)
