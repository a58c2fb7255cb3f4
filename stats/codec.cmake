# The compressed file container with its codecs, the tally text table file, and the maintainer's
# tool. These sources use no Qt, so the tool, the fuzzers and the window can all share them.
target_sources(pipshift_stats PRIVATE
  ${CMAKE_CURRENT_LIST_DIR}/lzrw1.cpp
  ${CMAKE_CURRENT_LIST_DIR}/lzrw1kh.cpp
  ${CMAKE_CURRENT_LIST_DIR}/lzh.cpp
  ${CMAKE_CURRENT_LIST_DIR}/tallygrid.cpp)
