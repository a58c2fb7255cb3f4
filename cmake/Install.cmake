# Installation into the usual places and the Debian packages (cpack -G DEB), one a component:
#   desktop  pipshift: the game, pipshift-tally, pipshift-solve, the desktop entry and the icon
#   server   pipshift-server: the score and update server and its systemd unit, without Qt
# A build without a desktop (PIPSHIFT_GUI off) packages the server alone.
foreach(program pipshift pipshift-tally pipshift-solve)
  if(TARGET ${program})
    install(TARGETS ${program} RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR} COMPONENT desktop)
  endif()
endforeach()
if(PIPSHIFT_GUI)
  install(FILES ${CMAKE_SOURCE_DIR}/packaging/pipshift.desktop
          DESTINATION ${CMAKE_INSTALL_DATADIR}/applications COMPONENT desktop)
  install(FILES ${CMAKE_SOURCE_DIR}/desktop/resources/images/icon.png
          DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/256x256/apps
          RENAME pipshift.png OPTIONAL COMPONENT desktop)
endif()

install(TARGETS pipshift-server RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR} COMPONENT server)
# The unit names the program as the package installs it, /usr/bin/pipshift-server: systemd reads
# units from lib/systemd/system under /usr (and /usr/local, for an install there, whose unit wants
# its ExecStart changed with systemctl edit).
install(FILES ${CMAKE_SOURCE_DIR}/packaging/pipshift-server.service
        DESTINATION lib/systemd/system COMPONENT server)

set(CPACK_PACKAGE_NAME pipshift)
set(CPACK_PACKAGE_VENDOR "Quorvel Software")
set(CPACK_PACKAGE_CONTACT "Quorvel Software <games@quorvel.example>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "Domino solitaire: sort a double-six set on a staircase board")
set(CPACK_PACKAGE_VERSION ${PIPSHIFT_VERSION})
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEB_COMPONENT_INSTALL ON)
if(PIPSHIFT_GUI)
  set(CPACK_COMPONENTS_ALL desktop server)
else()
  set(CPACK_COMPONENTS_ALL server)
endif()
# The libraries the programs link are found by dpkg-shlibdeps, for each package its own.
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)

# The desktop package keeps the name, section and dependencies it always had.
set(CPACK_DEBIAN_DESKTOP_PACKAGE_NAME pipshift)
set(CPACK_DEBIAN_DESKTOP_PACKAGE_SECTION games)
set(CPACK_DEBIAN_DESKTOP_DESCRIPTION "${CPACK_PACKAGE_DESCRIPTION_SUMMARY}")
# What the programs use without linking it: libcurl for the background fetch, the platform
# plugins for the windows, and xdg-open, which opens links in the player's browser.
set(CPACK_DEBIAN_DESKTOP_PACKAGE_DEPENDS "libcurl4 (>= 7.88), qt6-qpa-plugins, xdg-utils")

# The server package: the program's own libraries (libpq, SQLite) and nothing of Qt.
set(CPACK_DEBIAN_SERVER_PACKAGE_NAME pipshift-server)
set(CPACK_DEBIAN_SERVER_PACKAGE_SECTION net)
set(CPACK_DEBIAN_SERVER_DESCRIPTION "Score and update server for the Pipshift domino solitaire
 Takes the scores the game posts, serves the best 100 as a page and publishes the
 game's update files; keeps the scores in SQLite or PostgreSQL. Runs under systemd as
 a dynamic user that can write its state folder and nothing else.")
# Restarted after an upgrade, stopped before it is removed, forgotten once its unit is gone.
set(CPACK_DEBIAN_SERVER_PACKAGE_CONTROL_EXTRA
    ${CMAKE_SOURCE_DIR}/packaging/server/postinst ${CMAKE_SOURCE_DIR}/packaging/server/prerm
    ${CMAKE_SOURCE_DIR}/packaging/server/postrm)
set(CPACK_DEBIAN_SERVER_PACKAGE_CONTROL_STRICT_PERMISSION ON)
include(CPack)
