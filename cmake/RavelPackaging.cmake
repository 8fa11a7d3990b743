# Installs the desktop entry, the AppStream metadata and the icon, validates
# the first two as tests, and sets up `cpack -G DEB` (target `package`).

set(RAVEL_APP_ID local.kelvane.RavelViewer)
set(RAVEL_PACKAGING_DIR ${CMAKE_SOURCE_DIR}/packaging)

install(FILES ${RAVEL_PACKAGING_DIR}/${RAVEL_APP_ID}.desktop
  DESTINATION ${CMAKE_INSTALL_DATADIR}/applications)
install(FILES ${RAVEL_PACKAGING_DIR}/${RAVEL_APP_ID}.metainfo.xml
  DESTINATION ${CMAKE_INSTALL_DATADIR}/metainfo)
install(FILES ${RAVEL_PACKAGING_DIR}/${RAVEL_APP_ID}.svg
  DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/scalable/apps)

# ravel_add_validator(NAME PROGRAM DEBIAN_PACKAGE ARGS...)
# A test that runs a validator over a packaging file; without the validator
# the test fails and names the Debian package that provides it.
function(ravel_add_validator name program debian_package)
  find_program(RAVEL_${name}_PROGRAM ${program})
  if(RAVEL_${name}_PROGRAM)
    add_test(NAME ${name} COMMAND ${RAVEL_${name}_PROGRAM} ${ARGN})
  else()
    add_test(NAME ${name} COMMAND sh -c
      "echo '${program} not found: install the Debian package ${debian_package}' >&2; exit 1")
  endif()
  set_tests_properties(${name} PROPERTIES LABELS packaging TIMEOUT 60)
endfunction()

if(RAVEL_BUILD_TESTS)
  ravel_add_validator(packaging_desktop_file desktop-file-validate desktop-file-utils
    ${RAVEL_PACKAGING_DIR}/${RAVEL_APP_ID}.desktop)
  ravel_add_validator(packaging_metainfo appstreamcli appstream
    validate --no-net ${RAVEL_PACKAGING_DIR}/${RAVEL_APP_ID}.metainfo.xml)
endif()

# Debian package. Runtime dependencies come from dpkg-shlibdeps (dpkg-dev) over
# the installed binaries, so they follow whatever Qt and Qwt libraries the
# build linked.
set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME ravel-viewer)
set(CPACK_PACKAGE_VENDOR "Kelvane Electronics")
set(CPACK_PACKAGE_CONTACT "Kelvane Electronics <support@kelvane.local>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "Waveform viewer for Ravel digitizer boards")
set(CPACK_PACKAGE_DESCRIPTION
  "Shows the events of the Ravel 64-channel digitizer board as waveform curves,\
 live from acquisition programs found by multicast discovery or from recorded\
 data files. Includes ravel-dump, ravel-baselines, ravel-gen, ravel-daq-sim and ravel-pnp.")
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION science)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
include(CPack)
