# Tests of the download client and the update run, against servers the tests start on 127.0.0.1.
# The helper is a program of its own for the cases that end a process.
add_executable(pipshift_updatehelper ${CMAKE_CURRENT_LIST_DIR}/updatehelper.cpp)
target_link_libraries(pipshift_updatehelper PRIVATE pipshift_online)

pipshift_test(httpprot_test
  SOURCES ${CMAKE_CURRENT_LIST_DIR}/httpprot_test.cpp
  LIBS pipshift_online pipshift_testsupport
  QT)
target_compile_definitions(httpprot_test PRIVATE
  UPDATEHELPER="$<TARGET_FILE:pipshift_updatehelper>")
add_dependencies(httpprot_test pipshift_updatehelper)

pipshift_test(updatecheck_test
  SOURCES ${CMAKE_CURRENT_LIST_DIR}/updatecheck_test.cpp
  LIBS pipshift_online pipshift_testsupport
  QT)
target_compile_definitions(updatecheck_test PRIVATE
  UPDATEHELPER="$<TARGET_FILE:pipshift_updatehelper>")
add_dependencies(updatecheck_test pipshift_updatehelper)
