# Installation rules and the Debian package (cpack -G DEB): the program and the status tool under
# /usr/lib/velmora (each reads the Settings.xml beside it, a link to /etc/velmora/Settings.xml), the SQL
# scripts, the operating guide, and the systemd service and timer.
include(GNUInstallDirs)

set(VELMORA_LIBDIR "lib/velmora")
install(TARGETS velmora velmora-status velmora-gatewaysim RUNTIME DESTINATION ${VELMORA_LIBDIR})
file(GLOB VELMORA_SQL_SCRIPTS CONFIGURE_DEPENDS ${CMAKE_SOURCE_DIR}/tools/schema/*.sql)
install(FILES ${VELMORA_SQL_SCRIPTS} DESTINATION ${CMAKE_INSTALL_DATADIR}/velmora/sql)
install(FILES ${CMAKE_SOURCE_DIR}/docs/operating.md DESTINATION ${CMAKE_INSTALL_DATADIR}/doc/velmora)

if(NOT WIN32)
  # Links made here and installed as links: the settings file stays in /etc, the status tool on the PATH.
  set(_links ${CMAKE_BINARY_DIR}/install-links)
  file(MAKE_DIRECTORY ${_links})
  file(CREATE_LINK /etc/velmora/Settings.xml ${_links}/Settings.xml SYMBOLIC)
  file(CREATE_LINK ../${VELMORA_LIBDIR}/velmora-status ${_links}/velmora-status SYMBOLIC)
  install(FILES ${_links}/Settings.xml DESTINATION ${VELMORA_LIBDIR})
  install(FILES ${_links}/velmora-status DESTINATION ${CMAKE_INSTALL_BINDIR})
  install(FILES ${CMAKE_SOURCE_DIR}/tools/Settings.xml DESTINATION /etc/velmora)
  install(FILES ${CMAKE_SOURCE_DIR}/tools/linux/velmora.service ${CMAKE_SOURCE_DIR}/tools/linux/velmora.timer
          DESTINATION lib/systemd/system)
endif()

set(CPACK_PACKAGE_NAME "velmora")
set(CPACK_PACKAGE_VERSION "${PROJECT_VERSION}")
set(CPACK_PACKAGE_CONTACT "Velmora <velmora@localhost>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "Turkish SMS campaigns from ERP data, sent through a SOAP gateway")
set(CPACK_PACKAGING_INSTALL_PREFIX "/usr")
set(CPACK_GENERATOR "DEB")
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION "misc")
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_DEPENDS "adduser")
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS "tdsodbc")
set(CPACK_DEBIAN_PACKAGE_CONTROL_EXTRA
    ${CMAKE_SOURCE_DIR}/tools/linux/postinst ${CMAKE_SOURCE_DIR}/tools/linux/prerm ${CMAKE_SOURCE_DIR}/tools/linux/postrm
    ${CMAKE_SOURCE_DIR}/tools/linux/conffiles)
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)
# Stripped binaries in the package; the build tree keeps its symbols.
set(CPACK_STRIP_FILES ON)
include(CPack)
