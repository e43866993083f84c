# The installed layout (docs/install.md): programs in bin/, their helpers in
# libexec/rhomboquest/, shared files in share/rhomboquest/. The programs find the
# helpers and files relative to their own folder, so any prefix works.
set(RQ_HELPER_DIR ${CMAKE_INSTALL_LIBEXECDIR}/rhomboquest)
set(RQ_DATA_DIR ${CMAKE_INSTALL_DATADIR}/rhomboquest)
set(RQ_DOC_DIR ${CMAKE_INSTALL_DATADIR}/doc/rhomboquest)
set(RQ_UNIT_DIR lib/systemd/system CACHE STRING "Where the driver's systemd unit goes, under the prefix")
set(RQ_SYSUSERS_DIR lib/sysusers.d CACHE STRING "Where the driver group's sysusers.d entry goes, under the prefix")

install(TARGETS rhomboquest-exit rqdetect RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
install(TARGETS ZQ_I2cIo RUNTIME DESTINATION ${RQ_HELPER_DIR})
install(FILES ${RQ_BOARD_SECTIONS} DESTINATION ${RQ_DATA_DIR})
if(TARGET rqctl)
  install(TARGETS rqctl RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
endif()
if(RQ_BUILD_GUI)
  install(TARGETS rhomboquest RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
  install(TARGETS Loomfield Pallwick Graniton RUNTIME DESTINATION ${RQ_HELPER_DIR})
  install(FILES ${CMAKE_BINARY_DIR}/bin/01.avi ${CMAKE_BINARY_DIR}/bin/02.avi ${CMAKE_BINARY_DIR}/bin/03.avi
          DESTINATION ${RQ_DATA_DIR})
  install(FILES ${RQ_SKIN_DIR}/icon/Rhomboquest.png DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/64x64/apps
          RENAME rhomboquest.png)
endif()

# Manual pages carry the version and are installed compressed, as Debian wants.
set(RQ_MAN_PAGES rhomboquest.1 rhomboquest-exit.1 rqdetect.1 ZQ_I2cIo.8)
if(TARGET rqctl)
  list(APPEND RQ_MAN_PAGES rqctl.1)
endif()
set(RQ_MAN_OUTPUTS)
foreach(page ${RQ_MAN_PAGES})
  string(REGEX REPLACE ".*\\." "" section ${page})
  set(VERSION ${PROJECT_VERSION})
  configure_file(${PROJECT_SOURCE_DIR}/man/${page} ${CMAKE_BINARY_DIR}/man/${page} @ONLY)
  add_custom_command(
    OUTPUT ${CMAKE_BINARY_DIR}/man/${page}.gz
    COMMAND gzip -9nf -k ${CMAKE_BINARY_DIR}/man/${page}
    DEPENDS ${CMAKE_BINARY_DIR}/man/${page})
  list(APPEND RQ_MAN_OUTPUTS ${CMAKE_BINARY_DIR}/man/${page}.gz)
  install(FILES ${CMAKE_BINARY_DIR}/man/${page}.gz DESTINATION ${CMAKE_INSTALL_MANDIR}/man${section})
endforeach()
add_custom_command(
  OUTPUT ${CMAKE_BINARY_DIR}/packaging/changelog.gz
  COMMAND ${CMAKE_COMMAND} -E make_directory ${CMAKE_BINARY_DIR}/packaging
  COMMAND gzip -9nc ${PROJECT_SOURCE_DIR}/packaging/changelog > ${CMAKE_BINARY_DIR}/packaging/changelog.gz
  DEPENDS ${PROJECT_SOURCE_DIR}/packaging/changelog)
add_custom_target(rq_install_files ALL DEPENDS ${RQ_MAN_OUTPUTS} ${CMAKE_BINARY_DIR}/packaging/changelog.gz)

install(FILES README.md packaging/copyright ${CMAKE_BINARY_DIR}/packaging/changelog.gz DESTINATION ${RQ_DOC_DIR})
install(DIRECTORY docs/ DESTINATION ${RQ_DOC_DIR}/docs FILES_MATCHING PATTERN "*.md" PATTERN "*.png")
install(FILES packaging/rhomboquest.sysusers DESTINATION ${RQ_SYSUSERS_DIR} RENAME rhomboquest.conf)

# The unit and the desktop entry name programs by absolute path, which depends on
# the prefix given at install time (cmake --install --prefix, CPack), so they are
# written then.
install(CODE "
  set(RQ_SOURCE_DIR \"${PROJECT_SOURCE_DIR}\")
  set(RQ_STAGING_DIR \"${CMAKE_BINARY_DIR}/packaging\")
  set(RQ_BINDIR \"${CMAKE_INSTALL_BINDIR}\")
  set(RQ_HELPER_DIR \"${RQ_HELPER_DIR}\")
  set(RQ_UNIT_DIR \"${RQ_UNIT_DIR}\")
  set(RQ_APPLICATIONS_DIR \"${CMAKE_INSTALL_DATADIR}/applications\")
  set(RQ_WITH_GUI \"${RQ_BUILD_GUI}\")
  include(\"${PROJECT_SOURCE_DIR}/cmake/InstallConfigured.cmake\")
")

set(CPACK_PACKAGE_NAME rhomboquest)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_VENDOR "Rhomboquest developers")
set(RQ_PACKAGE_MAINTAINER "Rhomboquest developers <rhomboquest@example.org>"
    CACHE STRING "Maintainer of the Debian package, as 'Name <address>'")
set(CPACK_PACKAGE_CONTACT "${RQ_PACKAGE_MAINTAINER}")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "overclock and hardware monitor utility for PC mainboards")
set(CPACK_PACKAGE_DESCRIPTION
    "Rhomboquest raises or lowers the front-side-bus clock of a PC mainboard through\n\
its clock generator, proves a clock stable with three stress programs under the\n\
clock generator's hardware watchdog, restores a safe clock after a hang, raises\n\
core and memory voltages and shows temperatures, fans and voltages.\n\
.\n\
It reaches the hardware through a small driver daemon that serves a virtual\n\
mainboard by default, so every feature works on any Linux machine. On a board\n\
of the era, the daemon runs as a locked-down system service for one group.")
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)
set(CPACK_GENERATOR DEB)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_MAINTAINER "${RQ_PACKAGE_MAINTAINER}")
set(CPACK_DEBIAN_PACKAGE_SECTION utils)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_CONTROL_EXTRA ${PROJECT_SOURCE_DIR}/packaging/postinst ${PROJECT_SOURCE_DIR}/packaging/prerm
                                      ${PROJECT_SOURCE_DIR}/packaging/postrm)
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)
set(CPACK_DEBIAN_COMPRESSION_TYPE xz)
include(CPack)
