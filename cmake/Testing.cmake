# qg_add_test(NAME [SERIAL] SOURCES ... LIBS ...): a GoogleTest executable
# whose tests CTest lists one by one. SERIAL keeps them from running beside
# any other test of the same CTest run.
find_package(GTest REQUIRED)
include(GoogleTest)

function(qg_add_test name)
  cmake_parse_arguments(T "SERIAL" "" "SOURCES;LIBS" ${ARGN})
  add_executable(${name} ${T_SOURCES})
  target_link_libraries(${name} PRIVATE ${T_LIBS} qg_test_support GTest::gtest GTest::gtest_main
                                        qg_options)
  if(NOT WIN32)
    # Every native test program runs in a PID namespace of its own, so that
    # it sees and can stop only the processes it starts itself; an emulator
    # the build runs its programs with comes after the wrapper.
    set_property(TARGET ${name} PROPERTY CROSSCOMPILING_EMULATOR
                 ${PROJECT_SOURCE_DIR}/tools/own-pid-namespace.sh ${CMAKE_CROSSCOMPILING_EMULATOR})
  endif()
  if(CMAKE_CROSSCOMPILING AND WIN32)
    # One test per executable, run through the emulator (Wine).
    add_test(NAME ${name} COMMAND ${name})
    set_tests_properties(${name} PROPERTIES ENVIRONMENT "QG_SOURCE_DIR=${PROJECT_SOURCE_DIR}"
                                            RUN_SERIAL ${T_SERIAL})
  else()
    set(serial FALSE)
    if(T_SERIAL)
      set(serial TRUE)
    endif()
    # Listed and run through the emulator, if any (a 32-bit build on a machine
    # that cannot run it); tests that start a program of the build themselves
    # put QG_EMULATOR (its words separated by blanks) in front of it.
    # NO_PRETTY_VALUES: the names are the ones the name generators give,
    # without the printed parameter.
    string(REPLACE ";" " " emulator "${CMAKE_CROSSCOMPILING_EMULATOR}")
    gtest_discover_tests(${name} DISCOVERY_MODE PRE_TEST DISCOVERY_TIMEOUT 60 NO_PRETTY_VALUES
                         PROPERTIES ENVIRONMENT "QG_SOURCE_DIR=${PROJECT_SOURCE_DIR}"
                                    ENVIRONMENT_MODIFICATION "QG_EMULATOR=set:${emulator}"
                                    RUN_SERIAL ${serial})
  endif()
endfunction()
