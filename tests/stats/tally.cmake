# Tests of the tally list window and the tally file.
pipshift_test(pipshift_tallyfile_tests
  SOURCES ${CMAKE_CURRENT_LIST_DIR}/tallyfile_test.cpp ${CMAKE_CURRENT_LIST_DIR}/tallysupport.h
  LIBS pipshift_stats)
pipshift_test(pipshift_tallylist_tests
  SOURCES ${CMAKE_CURRENT_LIST_DIR}/tallylist_test.cpp ${CMAKE_CURRENT_LIST_DIR}/tallysupport.h
  LIBS pipshift_stats
  QT)
