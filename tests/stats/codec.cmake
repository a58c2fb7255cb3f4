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
pipshift_test(pipshift_tallytool_tests
  SOURCES ${CMAKE_CURRENT_LIST_DIR}/tallytool_test.cpp
  LIBS pipshift_stats)
add_dependencies(pipshift_tallytool_tests pipshift-tally)
target_compile_definitions(pipshift_tallytool_tests PRIVATE
  PIPSHIFT_TALLY_TOOL="$<TARGET_FILE:pipshift-tally>")
