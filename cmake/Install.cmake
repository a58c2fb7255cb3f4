# Installation into the usual places and the Debian package (cpack -G DEB).
foreach(program pipshift pipshift-server pipshift-tally pipshift-solve)
  if(TARGET ${program})
    install(TARGETS ${program} RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
  endif()
endforeach()
install(FILES ${CMAKE_SOURCE_DIR}/packaging/pipshift.desktop
        DESTINATION ${CMAKE_INSTALL_DATADIR}/applications)
install(FILES ${CMAKE_SOURCE_DIR}/resources/images/icon.png
        DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/256x256/apps
        RENAME pipshift.png OPTIONAL)

set(CPACK_PACKAGE_NAME pipshift)
set(CPACK_PACKAGE_VENDOR "Quorvel Software")
set(CPACK_PACKAGE_CONTACT "Quorvel Software <games@quorvel.example>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "Domino solitaire: sort a double-six set on a staircase board")
set(CPACK_PACKAGE_VERSION ${PIPSHIFT_VERSION})
set(CPACK_DEBIAN_PACKAGE_SECTION games)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
# The libraries the programs link are found by dpkg-shlibdeps; these are what they use without
# linking it: libcurl for the background fetch, the platform plugins for the windows, and xdg-open,
# which opens links in the player's browser.
set(CPACK_DEBIAN_PACKAGE_DEPENDS "libcurl4 (>= 7.88), qt6-qpa-plugins, xdg-utils")
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
include(CPack)
