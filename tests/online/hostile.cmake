# Servers that mean harm, against the background fetch and the download client: each runs on a
# thread of its own on 127.0.0.1 and the client must end in its failure path within its bound.
pipshift_test(hostile_peers_test
  SOURCES ${CMAKE_CURRENT_LIST_DIR}/hostile_peers_test.cpp
  LIBS pipshift_online Qt6::Network Qt6::Test
  QT)
