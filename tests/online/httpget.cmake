# Tests of the background text fetch, against servers the tests start on 127.0.0.1.
pipshift_test(httpget_test
  SOURCES ${CMAKE_CURRENT_LIST_DIR}/httpget_test.cpp
  LIBS pipshift_online pipshift_testsupport Qt6::Test
  QT)
