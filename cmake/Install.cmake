# What `cmake --install` and the Debian package put on the system: the three programs, the
# desktop entry with its icons and AppStream metadata, the man pages, bash completion for
# tarnwell-cli, the udev rules for USB serial adapters, and the package's copyright and changelog.

include(GNUInstallDirs)

# Who and where the project is. Placeholders until it has a home of its own: the AppStream id is
# the reverse of its domain, the metadata expects the README's pictures under HOMEPAGE/docs/.
set(TARNWELL_APP_ID "org.example.tarnwell")
set(TARNWELL_HOMEPAGE "https://tarnwell.example.org")
set(TARNWELL_MAINTAINER "Tarnwell developers <tarnwell@example.org>")
# The release of PROJECT_VERSION: the AppStream release, the man pages' date, the changelog entry.
set(TARNWELL_RELEASE_DATE "2026-12-08")
execute_process(COMMAND date -u -R -d "${TARNWELL_RELEASE_DATE} 12:00"
                OUTPUT_VARIABLE TARNWELL_RELEASE_DATE_RFC2822 OUTPUT_STRIP_TRAILING_WHITESPACE
                RESULT_VARIABLE dated ERROR_QUIET)
if(NOT dated EQUAL 0)
  set(TARNWELL_RELEASE_DATE_RFC2822 "${TARNWELL_RELEASE_DATE}")
endif()
# Debian 12 keeps udev rules in /lib/udev/rules.d; elsewhere they go below the prefix, where a
# system whose udev reads them (or a copy into /etc/udev/rules.d) takes them up.
if(CMAKE_INSTALL_PREFIX STREQUAL "/usr")
  set(TARNWELL_UDEV_DEFAULT "/lib/udev/rules.d")
else()
  set(TARNWELL_UDEV_DEFAULT "lib/udev/rules.d")
endif()
set(TARNWELL_UDEV_RULES_DIR "${TARNWELL_UDEV_DEFAULT}" CACHE STRING "Folder of the udev rules file")

set(TARNWELL_DIST ${PROJECT_SOURCE_DIR}/packaging)
set(TARNWELL_DIST_OUT ${PROJECT_BINARY_DIR}/packaging)

install(TARGETS tarnwell tarnwell-cli tarnwell-sim RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})

# Desktop entry, icons and metadata, so the program shows up in the application menu and in
# software centres.
install(FILES ${PROJECT_SOURCE_DIR}/src/app/tarnwell.desktop DESTINATION ${CMAKE_INSTALL_DATADIR}/applications)
install(FILES ${PROJECT_SOURCE_DIR}/src/app/icons/tarnwell.svg
        DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/scalable/apps)
install(FILES ${PROJECT_SOURCE_DIR}/src/app/icons/tarnwell.png
        DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/256x256/apps)
install(FILES ${PROJECT_SOURCE_DIR}/src/app/icons/tarnwell-48.png
        DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/48x48/apps RENAME tarnwell.png)
# The metadata tells software centres which hardware the program is for: the USB ids the udev
# rules match, read from the rules themselves.
file(STRINGS ${TARNWELL_DIST}/70-tarnwell-serial.rules TARNWELL_USB_RULES REGEX "ATTRS{idProduct}")
set(TARNWELL_MODALIASES "")
foreach(rule IN LISTS TARNWELL_USB_RULES)
  string(REGEX MATCH "idVendor}==\"([0-9a-f]+)\".*idProduct}==\"([0-9a-f]+)\"" matched "${rule}")
  string(TOUPPER "${CMAKE_MATCH_1}" vendor)
  string(TOUPPER "${CMAKE_MATCH_2}" product)
  string(APPEND TARNWELL_MODALIASES "    <modalias>usb:v${vendor}p${product}d*</modalias>\n")
endforeach()
string(STRIP "${TARNWELL_MODALIASES}" TARNWELL_MODALIASES)
configure_file(${TARNWELL_DIST}/tarnwell.metainfo.xml.in
               ${TARNWELL_DIST_OUT}/${TARNWELL_APP_ID}.metainfo.xml @ONLY)
install(FILES ${TARNWELL_DIST_OUT}/${TARNWELL_APP_ID}.metainfo.xml DESTINATION ${CMAKE_INSTALL_DATADIR}/metainfo)

# Man pages: roff with the version filled in, compressed as Debian wants them.
set(TARNWELL_MAN_PAGES)
foreach(page tarnwell tarnwell-cli tarnwell-sim)
  configure_file(${TARNWELL_DIST}/man/${page}.1.in ${TARNWELL_DIST_OUT}/man/${page}.1 @ONLY)
  add_custom_command(
    OUTPUT ${TARNWELL_DIST_OUT}/man/${page}.1.gz
    COMMAND gzip -9nkf ${page}.1
    DEPENDS ${TARNWELL_DIST_OUT}/man/${page}.1
    WORKING_DIRECTORY ${TARNWELL_DIST_OUT}/man
    VERBATIM)
  list(APPEND TARNWELL_MAN_PAGES ${TARNWELL_DIST_OUT}/man/${page}.1.gz)
endforeach()
add_custom_target(tarnwell_man ALL DEPENDS ${TARNWELL_MAN_PAGES})
install(FILES ${TARNWELL_MAN_PAGES} DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)

install(FILES ${TARNWELL_DIST}/tarnwell-cli.bash-completion
        DESTINATION ${CMAKE_INSTALL_DATADIR}/bash-completion/completions RENAME tarnwell-cli)
install(FILES ${TARNWELL_DIST}/70-tarnwell-serial.rules DESTINATION ${TARNWELL_UDEV_RULES_DIR})

# tarnwell-cli serve as a system service, one instance a port (tarnwell-serve@COM1), with its
# options' file. Debian 12 keeps units in /lib/systemd/system, as it keeps udev rules in /lib.
if(CMAKE_INSTALL_PREFIX STREQUAL "/usr")
  set(TARNWELL_SYSTEMD_DEFAULT "/lib/systemd/system")
else()
  set(TARNWELL_SYSTEMD_DEFAULT "lib/systemd/system")
endif()
set(TARNWELL_SYSTEMD_UNIT_DIR "${TARNWELL_SYSTEMD_DEFAULT}" CACHE STRING "Folder of the systemd unit")
install(FILES ${TARNWELL_DIST}/systemd/tarnwell-serve@.service DESTINATION ${TARNWELL_SYSTEMD_UNIT_DIR})
install(FILES ${TARNWELL_DIST}/systemd/tarnwell-serve.default DESTINATION ${CMAKE_INSTALL_FULL_SYSCONFDIR}/default
        RENAME tarnwell-serve)

configure_file(${TARNWELL_DIST}/changelog.in ${TARNWELL_DIST_OUT}/changelog @ONLY)
add_custom_command(
  OUTPUT ${TARNWELL_DIST_OUT}/changelog.gz
  COMMAND gzip -9nkf changelog
  DEPENDS ${TARNWELL_DIST_OUT}/changelog
  WORKING_DIRECTORY ${TARNWELL_DIST_OUT}
  VERBATIM)
add_custom_target(tarnwell_changelog ALL DEPENDS ${TARNWELL_DIST_OUT}/changelog.gz)
install(FILES ${TARNWELL_DIST}/copyright ${TARNWELL_DIST_OUT}/changelog.gz
        DESTINATION ${CMAKE_INSTALL_DATADIR}/doc/tarnwell)
