# Helpers shared by the subsystems' CMakeLists.

# vantor_tests(<name> SOURCES ... LIBS ...): one GoogleTest executable, its cases registered
# with CTest one by one (listed when ctest runs, so the build never executes test binaries).
function(vantor_tests name)
  if(NOT VANTOR_TESTS)
    return()
  endif()
  cmake_parse_arguments(T "" "TIMEOUT" "SOURCES;LIBS;PROPERTIES" ${ARGN})
  if(NOT T_TIMEOUT)
    set(T_TIMEOUT 120)
  endif()
  add_executable(${name} ${T_SOURCES})
  target_link_libraries(${name} PRIVATE ${T_LIBS} GTest::gtest GTest::gtest_main)
  gtest_discover_tests(${name} DISCOVERY_MODE PRE_TEST DISCOVERY_TIMEOUT 60
                       PROPERTIES TIMEOUT ${T_TIMEOUT} ${T_PROPERTIES})
endfunction()

# vantor_benchmark(<name> SOURCES ... LIBS ...): a Google Benchmark program (not run by CTest).
function(vantor_benchmark name)
  if(NOT VANTOR_BENCHMARKS)
    return()
  endif()
  cmake_parse_arguments(B "" "" "SOURCES;LIBS" ${ARGN})
  add_executable(${name} ${B_SOURCES})
  target_link_libraries(${name} PRIVATE ${B_LIBS} benchmark::benchmark benchmark::benchmark_main)
endfunction()

# vantor_fuzzer(<name> SOURCES ... LIBS ...): a libFuzzer target, built only with VANTOR_FUZZ.
# scripts/test.sh runs every target listed in the build's fuzzers.txt for a bounded time.
function(vantor_fuzzer name)
  if(NOT VANTOR_FUZZ)
    return()
  endif()
  cmake_parse_arguments(F "" "" "SOURCES;LIBS" ${ARGN})
  add_executable(${name} ${F_SOURCES})
  target_link_libraries(${name} PRIVATE ${F_LIBS})
  target_link_options(${name} PRIVATE -fsanitize=fuzzer)
  set_property(GLOBAL APPEND PROPERTY VANTOR_FUZZERS ${name})
endfunction()

# vantor_subsystem(<target> [SHARED] PUBLIC_LIBS ... PRIVATE_LIBS ... TEST_LIBS ...): the library
# of one subsystem folder, made of src/*.cpp and linux/*.cpp, with include/ as its public headers;
# tests/*.cpp become <target>Tests, each benchmarks/<name>.cpp a benchmark program and each
# fuzz/<name>.cpp a libFuzzer target. Does nothing while the folder has no sources yet.
function(vantor_subsystem target)
  cmake_parse_arguments(S "" "TEST_TIMEOUT" "PUBLIC_LIBS;PRIVATE_LIBS;TEST_LIBS;TEST_PROPERTIES" ${ARGN})
  file(GLOB sources CONFIGURE_DEPENDS src/*.cpp linux/*.cpp)
  if(NOT sources)
    return()
  endif()
  # The public headers are sources too, so that AUTOMOC finds the Q_OBJECT classes declared there.
  file(GLOB headers CONFIGURE_DEPENDS include/*/*.h)
  add_library(${target} STATIC ${sources} ${headers})
  target_include_directories(${target} PUBLIC include PRIVATE src linux)
  target_link_libraries(${target} PUBLIC ${S_PUBLIC_LIBS} PRIVATE ${S_PRIVATE_LIBS})

  file(GLOB tests CONFIGURE_DEPENDS tests/*.cpp)
  if(tests)
    vantor_tests(${target}Tests SOURCES ${tests} LIBS ${target} ${S_TEST_LIBS}
                 TIMEOUT ${S_TEST_TIMEOUT} PROPERTIES ${S_TEST_PROPERTIES})
    if(TARGET ${target}Tests)
      target_include_directories(${target}Tests PRIVATE tests src linux)
    endif()
  endif()
  file(GLOB benchmarks CONFIGURE_DEPENDS benchmarks/*.cpp)
  foreach(source IN LISTS benchmarks)
    get_filename_component(name ${source} NAME_WE)
    vantor_benchmark(${name} SOURCES ${source} LIBS ${target} ${S_TEST_LIBS})
  endforeach()
  file(GLOB fuzzers CONFIGURE_DEPENDS fuzz/*.cpp)
  foreach(source IN LISTS fuzzers)
    get_filename_component(name ${source} NAME_WE)
    vantor_fuzzer(${name} SOURCES ${source} LIBS ${target})
  endforeach()
endfunction()
