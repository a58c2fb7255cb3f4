# The compressed file container with its codecs, the tally text table file, and the maintainer's
# tool. These sources use no Qt, so the tool, the fuzzers and the window can all share them.
target_sources(pipshift_stats PRIVATE
  ${CMAKE_CURRENT_LIST_DIR}/lzrw1.cpp
  ${CMAKE_CURRENT_LIST_DIR}/lzrw1kh.cpp
  ${CMAKE_CURRENT_LIST_DIR}/lzh.cpp
  ${CMAKE_CURRENT_LIST_DIR}/tallygrid.cpp)

# The maintainer's tool, beside the game in the program folder.
add_executable(pipshift-tally ${CMAKE_CURRENT_LIST_DIR}/tallytool.cpp)
target_link_libraries(pipshift-tally PRIVATE pipshift_stats)
set_target_properties(pipshift-tally PROPERTIES
  RUNTIME_OUTPUT_DIRECTORY ${PIPSHIFT_BIN_DIR}
  AUTOMOC OFF AUTOUIC OFF AUTORCC OFF)
