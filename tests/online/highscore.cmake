# Tests of the score addresses and the high-score window, against a score server on 127.0.0.1.
pipshift_test(scorepost_test
  SOURCES ${CMAKE_CURRENT_LIST_DIR}/scorepost_test.cpp
  LIBS pipshift_online)

pipshift_test(highscoreform_test
  SOURCES ${CMAKE_CURRENT_LIST_DIR}/highscoreform_test.cpp ${CMAKE_CURRENT_LIST_DIR}/scoreserver.h
  LIBS pipshift_online pipshift_resources pipshift_testsupport Qt6::Test
  QT)

# The window against the reference server, started by the test on 127.0.0.1.
pipshift_test(highscoreserver_test
  SOURCES ${CMAKE_CURRENT_LIST_DIR}/highscoreserver_test.cpp
  LIBS pipshift_online pipshift_resources Qt6::Test
  QT)
add_dependencies(highscoreserver_test pipshift-server)
target_compile_definitions(highscoreserver_test PRIVATE
  PIPSHIFT_SERVER_BINARY="$<TARGET_FILE:pipshift-server>")
