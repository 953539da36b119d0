# qg_add_test(NAME SOURCES ... LIBS ...): a GoogleTest executable whose tests
# CTest lists one by one.
find_package(GTest REQUIRED)
include(GoogleTest)

function(qg_add_test name)
  cmake_parse_arguments(T "" "" "SOURCES;LIBS" ${ARGN})
  add_executable(${name} ${T_SOURCES})
  target_link_libraries(${name} PRIVATE ${T_LIBS} qg_test_support GTest::gtest GTest::gtest_main
                                        qg_options)
  if(CMAKE_CROSSCOMPILING)
    add_test(NAME ${name} COMMAND ${name})
  else()
    gtest_discover_tests(${name} DISCOVERY_MODE PRE_TEST
                         PROPERTIES ENVIRONMENT "QG_SOURCE_DIR=${PROJECT_SOURCE_DIR}")
  endif()
endfunction()
