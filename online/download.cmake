# The download client and the update check built on it.
target_sources(pipshift_online PRIVATE
  ${CMAKE_CURRENT_LIST_DIR}/httpprot.cpp
  ${CMAKE_CURRENT_LIST_DIR}/httpprot.h
  ${CMAKE_CURRENT_LIST_DIR}/updatecheck.cpp
  ${CMAKE_CURRENT_LIST_DIR}/updatecheck.h
  ${CMAKE_CURRENT_LIST_DIR}/urltext.cpp
  ${CMAKE_CURRENT_LIST_DIR}/urltext.h)
