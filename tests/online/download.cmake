# Tests of the download client and the update run, against servers the tests start on 127.0.0.1.
# The helper is a program of its own for the cases that end a process.
add_executable(pipshift_updatehelper ${CMAKE_CURRENT_LIST_DIR}/updatehelper.cpp)
target_link_libraries(pipshift_updatehelper PRIVATE pipshift_online)

foreach(name httpprot_test updatecheck_test)
  pipshift_test(${name}
    SOURCES ${CMAKE_CURRENT_LIST_DIR}/${name}.cpp
    LIBS pipshift_online pipshift_testsupport
    QT)
  target_compile_definitions(${name} PRIVATE UPDATEHELPER="$<TARGET_FILE:pipshift_updatehelper>")
  add_dependencies(${name} pipshift_updatehelper)
endforeach()
