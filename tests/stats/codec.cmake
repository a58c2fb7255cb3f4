# Tests of the compressed container, its codecs and the tally text table.
pipshift_test(pipshift_lzrw1kh_tests
  SOURCES ${CMAKE_CURRENT_LIST_DIR}/lzrw1kh_test.cpp ${CMAKE_CURRENT_LIST_DIR}/codecdata.h
  LIBS pipshift_stats)
pipshift_test(pipshift_lzrw1_tests
  SOURCES ${CMAKE_CURRENT_LIST_DIR}/lzrw1_test.cpp ${CMAKE_CURRENT_LIST_DIR}/codecdata.h
  LIBS pipshift_stats)
pipshift_test(pipshift_tallygrid_tests
  SOURCES ${CMAKE_CURRENT_LIST_DIR}/tallygrid_test.cpp
  LIBS pipshift_stats)
