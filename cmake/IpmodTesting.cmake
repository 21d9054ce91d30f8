# Test helpers. Host builds run their unit tests directly; the x86_64 Windows build runs its
# tests under Wine (see CMAKE_CROSSCOMPILING_EMULATOR); the i686 build runs none of its code.
if(WIN32 AND CMAKE_SIZEOF_VOID_P EQUAL 8)
  set(IPMOD_WINE_TESTS ON)
else()
  set(IPMOD_WINE_TESTS OFF)
endif()

# ipmod_add_gtest(NAME SOURCES a.cpp b.cpp LIBS lib1 lib2 [TIMEOUT s])
function(ipmod_add_gtest name)
  cmake_parse_arguments(ARG "" "TIMEOUT" "SOURCES;LIBS" ${ARGN})
  add_executable(${name} ${ARG_SOURCES})
  target_link_libraries(${name} PRIVATE ${ARG_LIBS} GTest::gmock GTest::gtest_main)
  add_test(NAME ${name} COMMAND ${name})
  if(NOT ARG_TIMEOUT)
    set(ARG_TIMEOUT 120)
  endif()
  set_tests_properties(${name} PROPERTIES TIMEOUT ${ARG_TIMEOUT})
endfunction()
