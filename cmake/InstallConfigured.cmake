# Runs at install time (see Install.cmake): writes the driver's systemd unit and the
# desktop entry for the prefix being installed to, then installs them.
function(rq_full_path out relative)
  if(IS_ABSOLUTE "${relative}")
    set(${out} "${relative}" PARENT_SCOPE)
  else()
    set(${out} "${CMAKE_INSTALL_PREFIX}/${relative}" PARENT_SCOPE)
  endif()
endfunction()

rq_full_path(RQ_FULL_BINDIR "${RQ_BINDIR}")
rq_full_path(RQ_FULL_HELPERDIR "${RQ_HELPER_DIR}")
rq_full_path(RQ_FULL_UNIT_DIR "${RQ_UNIT_DIR}")
rq_full_path(RQ_FULL_APPLICATIONS_DIR "${RQ_APPLICATIONS_DIR}")

configure_file("${RQ_SOURCE_DIR}/packaging/rhomboquest-driver.service.in"
               "${RQ_STAGING_DIR}/rhomboquest-driver.service" @ONLY)
file(INSTALL "${RQ_STAGING_DIR}/rhomboquest-driver.service" DESTINATION "${RQ_FULL_UNIT_DIR}"
     PERMISSIONS OWNER_READ OWNER_WRITE GROUP_READ WORLD_READ)
if(RQ_WITH_GUI)
  configure_file("${RQ_SOURCE_DIR}/packaging/rhomboquest.desktop.in" "${RQ_STAGING_DIR}/rhomboquest.desktop" @ONLY)
  file(INSTALL "${RQ_STAGING_DIR}/rhomboquest.desktop" DESTINATION "${RQ_FULL_APPLICATIONS_DIR}"
       PERMISSIONS OWNER_READ OWNER_WRITE GROUP_READ WORLD_READ)
endif()
