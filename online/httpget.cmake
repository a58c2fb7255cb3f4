# The background text fetch, THTTPGet. It opens libcurl itself on the first fetch (see
# httpget.cpp), so the program carries no link to it; libcurl4 must still be installed at run time.
target_sources(pipshift_online PRIVATE ${CMAKE_CURRENT_LIST_DIR}/httpget.h ${CMAKE_CURRENT_LIST_DIR}/httpget.cpp)
target_link_libraries(pipshift_online PRIVATE ${CMAKE_DL_LIBS})
