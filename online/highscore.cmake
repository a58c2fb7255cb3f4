# The high-score window and the score server's addresses.
target_sources(pipshift_online PRIVATE
  ${CMAKE_CURRENT_LIST_DIR}/highscoreform.cpp ${CMAKE_CURRENT_LIST_DIR}/highscoreform.h
  ${CMAKE_CURRENT_LIST_DIR}/scorepost.cpp ${CMAKE_CURRENT_LIST_DIR}/scorepost.h)
