# pipshift_test(<name> SOURCES <files...> LIBS <libraries...> [QT])
#
# Builds one GoogleTest executable and registers each of its cases with CTest.
# QT: the cases need a QApplication (widget tests); they run on the offscreen platform.
function(pipshift_test name)
  cmake_parse_arguments(T "QT" "" "SOURCES;LIBS" ${ARGN})
  # The build's own version, for whatever shows or compares it.
  add_executable(${name} ${T_SOURCES} $<TARGET_OBJECTS:pipshift_version>)
  if(T_QT)
    target_link_libraries(${name} PRIVATE ${T_LIBS} pipshift_testmain_qt GTest::gtest GTest::gmock)
  else()
    target_link_libraries(${name} PRIVATE ${T_LIBS} GTest::gtest_main GTest::gmock)
  endif()
  gtest_discover_tests(${name}
    DISCOVERY_MODE PRE_TEST
    DISCOVERY_TIMEOUT 60
    PROPERTIES ENVIRONMENT "QT_QPA_PLATFORM=offscreen"
               TIMEOUT 120)
endfunction()
