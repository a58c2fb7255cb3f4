# pipshift_test(<name> SOURCES <files...> LIBS <libraries...> [QT])
#
# Builds one GoogleTest executable and registers each of its cases with CTest.
# QT: the cases need a QApplication (widget tests); they run on the offscreen platform.
# A test that links no Qt, directly or through its libraries, is left alone by moc.

# pipshift_linksqt(<variable> <libraries...>): TRUE when any of them is or links a Qt library.
# The libraries must be defined already (the tests come after every library).
function(pipshift_linksqt result)
  set(queue ${ARGN})
  set(seen)
  while(queue)
    list(POP_FRONT queue lib)
    string(REGEX REPLACE "^\\$<LINK_ONLY:(.*)>$" "\\1" lib "${lib}")
    if(lib MATCHES "^Qt6::")
      set(${result} TRUE PARENT_SCOPE)
      return()
    endif()
    if(TARGET ${lib} AND NOT lib IN_LIST seen)
      list(APPEND seen ${lib})
      get_target_property(links ${lib} INTERFACE_LINK_LIBRARIES)
      if(links)
        list(APPEND queue ${links})
      endif()
    endif()
  endwhile()
  set(${result} FALSE PARENT_SCOPE)
endfunction()

function(pipshift_test name)
  cmake_parse_arguments(T "QT" "" "SOURCES;LIBS" ${ARGN})
  # The build's own version, for whatever shows or compares it.
  add_executable(${name} ${T_SOURCES} $<TARGET_OBJECTS:pipshift_version>)
  # Its own helpers and the shared ones, as "tests/support/scratchdir.h".
  target_include_directories(${name} PRIVATE ${CMAKE_SOURCE_DIR})
  if(T_QT)
    target_link_libraries(${name} PRIVATE ${T_LIBS} pipshift_testmain_qt GTest::gtest GTest::gmock)
  else()
    target_link_libraries(${name} PRIVATE ${T_LIBS} GTest::gtest_main GTest::gmock)
    pipshift_linksqt(qt ${T_LIBS})
    if(NOT qt)
      set_target_properties(${name} PROPERTIES AUTOMOC OFF AUTOUIC OFF AUTORCC OFF)
    endif()
  endif()
  gtest_discover_tests(${name}
    DISCOVERY_MODE PRE_TEST
    DISCOVERY_TIMEOUT 60
    PROPERTIES ENVIRONMENT "QT_QPA_PLATFORM=offscreen"
               TIMEOUT 120)
endfunction()
