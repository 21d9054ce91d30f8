# Test helpers. Host builds run their unit tests directly. The Windows builds, x86_64 and i686
# alike, run their tests under Wine: test executables through tools/wine-run with a prefix per
# build tree (see CMAKE_CROSSCOMPILING_EMULATOR), the suites that drive a program from outside
# told the build's bitness by IPMOD_WINE_BITS in their environment. Every Wine test goes through
# tests/support/wine-gate: the test wine_runs_this_build first starts a trivial program of the
# build; where a 32-bit one cannot start, it and every other Wine test report themselves skipped.
# The tests may run side by side (ctest -j), the GoogleTest executables under Wine one at a time.
if(WIN32 AND CMAKE_CROSSCOMPILING)
  set(IPMOD_WINE_TESTS ON)
  math(EXPR IPMOD_WINE_BITS "8 * ${CMAKE_SIZEOF_VOID_P}")
  set(IPMOD_WINE_RUN ${CMAKE_SOURCE_DIR}/tools/wine-run)
  set(IPMOD_WINE_PREFIX ${CMAKE_BINARY_DIR}/wineprefix)
  # Written by wine_runs_this_build, with the reason, when this build's programs cannot start.
  set(IPMOD_WINE_UNAVAILABLE ${CMAKE_BINARY_DIR}/wine-unavailable)
  # Prefix for the command of every Wine test.
  set(IPMOD_WINE_GATE ${CMAKE_SOURCE_DIR}/tests/support/wine-gate run ${IPMOD_WINE_UNAVAILABLE})
  set(CMAKE_CROSSCOMPILING_EMULATOR ${IPMOD_WINE_GATE} ${IPMOD_WINE_RUN} ${IPMOD_WINE_PREFIX})
else()
  set(IPMOD_WINE_TESTS OFF)
endif()

# ipmod_wine_test(TEST...): the tests, whose commands start with IPMOD_WINE_GATE (or the
# emulator), run after the check that Wine starts this build's programs and count as skipped
# when it cannot.
function(ipmod_wine_test)
  set_property(TEST ${ARGN} APPEND PROPERTY FIXTURES_REQUIRED ipmod_wine)
  set_property(TEST ${ARGN} APPEND PROPERTY ENVIRONMENT IPMOD_WINE_BITS=${IPMOD_WINE_BITS})
  set_tests_properties(${ARGN} PROPERTIES SKIP_RETURN_CODE 77)
endfunction()

# ipmod_add_gtest(NAME SOURCES a.cpp b.cpp LIBS lib1 lib2 [TIMEOUT s])
function(ipmod_add_gtest name)
  cmake_parse_arguments(ARG "" "TIMEOUT" "SOURCES;LIBS" ${ARGN})
  add_executable(${name} ${ARG_SOURCES})
  target_link_libraries(${name} PRIVATE ${ARG_LIBS} GTest::gmock GTest::gtest_main)
  add_test(NAME ${name} COMMAND ${name})
  if(NOT ARG_TIMEOUT)
    # Generous under Wine, where a loaded machine (and, for 32-bit code, an emulator) slows
    # every process start.
    set(ARG_TIMEOUT 120)
    if(IPMOD_WINE_TESTS)
      set(ARG_TIMEOUT 600)
    endif()
  endif()
  set_tests_properties(${name} PROPERTIES TIMEOUT ${ARG_TIMEOUT})
  if(IPMOD_WINE_TESTS)
    ipmod_wine_test(${name})
    # They all run in the build tree's prefix, and some change it for a while (a stand-in over
    # its system netsh.exe): one at a time.
    set_tests_properties(${name} PROPERTIES RESOURCE_LOCK ${IPMOD_WINE_PREFIX})
  endif()
endfunction()
