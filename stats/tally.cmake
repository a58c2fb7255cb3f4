# The tally list window and the tally file.
target_sources(pipshift_stats PRIVATE
  ${CMAKE_CURRENT_LIST_DIR}/tallyfile.cpp ${CMAKE_CURRENT_LIST_DIR}/tallyfile.h
  ${CMAKE_CURRENT_LIST_DIR}/tallylistform.cpp ${CMAKE_CURRENT_LIST_DIR}/tallylistform.h)
