# dunmere_add_gtest(NAME SOURCES src... [LIBRARIES lib...])
# One GoogleTest program is one CTest test. Cross-built programs run under Wine
# through the emulator, inside the shared virtual display of the unit-test session.
function(dunmere_add_gtest name)
  cmake_parse_arguments(T "" "" "SOURCES;LIBRARIES" ${ARGN})
  add_executable(${name} ${T_SOURCES})
  target_link_libraries(${name} PRIVATE ${T_LIBRARIES} GTest::gtest GTest::gtest_main)
  add_test(NAME ${name} COMMAND ${name})
  set_tests_properties(${name} PROPERTIES TIMEOUT 600)
  if(WIN32)
    set_tests_properties(${name} PROPERTIES FIXTURES_REQUIRED wine_session)
  endif()
endfunction()
