include(GoogleTest)

# vok_add_test(NAME <target> SOURCES <files...> LIBS <libs...> [LABELS <labels...>] [TIMEOUT s])
# One GoogleTest executable; every test case becomes a CTest test so that the
# slow cases (real time-outs) run side by side.
function(vok_add_test)
  cmake_parse_arguments(T "" "NAME;TIMEOUT" "SOURCES;LIBS;LABELS" ${ARGN})
  if(NOT T_TIMEOUT)
    set(T_TIMEOUT 300)
  endif()
  add_executable(${T_NAME} ${T_SOURCES})
  target_link_libraries(${T_NAME} PRIVATE ${T_LIBS} vok_testsupport GTest::gtest GTest::gmock GTest::gtest_main)
  set(props TIMEOUT ${T_TIMEOUT})
  if(T_LABELS)
    list(APPEND props LABELS "${T_LABELS}")
  endif()
  # Listing the tests starts the program; under Wine on a busy machine the
  # first start alone can take longer than the default five seconds.
  gtest_discover_tests(${T_NAME}
    DISCOVERY_MODE PRE_TEST
    DISCOVERY_TIMEOUT 60
    WORKING_DIRECTORY ${CMAKE_BINARY_DIR}/bin
    PROPERTIES ${props})
endfunction()
