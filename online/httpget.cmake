# The background text fetch, THTTPGet.
target_sources(pipshift_online PRIVATE ${CMAKE_CURRENT_LIST_DIR}/httpget.h ${CMAKE_CURRENT_LIST_DIR}/httpget.cpp)
