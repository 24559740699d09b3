# The Debian package: `cpack -G DEB` in a build configured with -DCMAKE_INSTALL_PREFIX=/usr
# (scripts/package.sh does it all and checks the result) makes tarnwell_<version>_<arch>.deb from
# the install rules of cmake/Install.cmake, with its dependencies found from the binaries.

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME tarnwell)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_VENDOR "Tarnwell developers")
set(CPACK_PACKAGE_CONTACT ${TARNWELL_MAINTAINER})
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "control program for a programmable DC bench power supply")
# The extended description, one list item a line ("." is an empty line); CPack puts the summary
# before it. No semicolons: CMake would take them for list separators.
set(TARNWELL_DEB_DESCRIPTION
  "Tarnwell drives one single-channel programmable DC bench power supply"
  "(up to 32 V and 5.1 A) over a serial port or a USB serial adapter. Set"
  "the voltage and the current limit, start runs that sample the supply"
  "once a second with live voltage and current traces, play program files"
  "of one point a second, save runs as CSV records and browse them over"
  "time scales from 50 seconds to 100 hours, in English or Chinese."
  "."
  "tarnwell-cli does the same from scripts and headless machines, writes"
  "plots of records as PNG, SVG or PDF, and serves the supply to other"
  "programs (SCPI over TCP for VISA tools, MQTT with Home Assistant"
  "discovery, Prometheus metrics), also as the systemd service"
  "tarnwell-serve@PORT. tarnwell-sim serves a"
  "simulated supply on a pseudo-terminal. udev rules let the desktop user"
  "reach common USB serial adapters without joining the dialout group and"
  "keep ModemManager from probing them.")
list(JOIN TARNWELL_DEB_DESCRIPTION "\n" CPACK_PACKAGE_DESCRIPTION)

set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT) # tarnwell_<version>_<arch>.deb
set(CPACK_DEBIAN_PACKAGE_MAINTAINER ${TARNWELL_MAINTAINER})
set(CPACK_DEBIAN_PACKAGE_SECTION electronics)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_HOMEPAGE ${TARNWELL_HOMEPAGE})
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
# The Chinese captions need a font with CJK glyphs.
set(CPACK_DEBIAN_PACKAGE_SUGGESTS "fonts-noto-cjk")
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)
set(CPACK_DEBIAN_COMPRESSION_TYPE xz)
# The service's options file is the administrator's: kept over upgrades.
set(CPACK_DEBIAN_PACKAGE_CONTROL_EXTRA ${PROJECT_SOURCE_DIR}/packaging/conffiles)

if(PROJECT_IS_TOP_LEVEL)
  include(CPack)
endif()
