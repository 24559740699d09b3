#!/usr/bin/env bash
# Installs the Debian packages the project needs, only those dpkg reports missing.
# Sourced by run.sh, test.sh and bench.sh; safe to run again.

TARNWELL_PACKAGES=(
  build-essential cmake ninja-build pkg-config
  qt6-base-dev qt6-base-dev-tools qt6-serialport-dev qt6-svg-dev libgl-dev
  libgtest-dev libgmock-dev
  xvfb xauth fontconfig python3
  # tarnwell-cli serve: Qt's HTTP server for /metrics (its CMake files want the WebSockets
  # module too), libmosquitto for MQTT; the tests' real peers: a broker with its clients, and a
  # VISA client with its pure-Python backend.
  qt6-httpserver-dev qt6-websockets-dev libmosquitto-dev
  mosquitto mosquitto-clients python3-pyvisa-py
)

# What scripts/package.sh needs besides the build: dpkg-shlibdeps and file find the package's
# dependencies, lintian, desktop-file-validate and appstreamcli check it, man and udevadm try the
# installed package.
TARNWELL_PACKAGE_TOOLS=(
  dpkg-dev file lintian desktop-file-utils appstream man-db udev
)

tarnwell_install_deps() {
  tarnwell_apt_install "${TARNWELL_PACKAGES[@]}"
}

tarnwell_install_package_tools() {
  tarnwell_apt_install "${TARNWELL_PACKAGE_TOOLS[@]}"
}

# The Chinese captions need a font with CJK glyphs; any installed one will do, otherwise
# Debian's Noto CJK is added. Called by run.sh and scripts/screenshots.sh (tests don't draw text).
tarnwell_ensure_cjk_font() {
  if command -v fc-list >/dev/null 2>&1 && [ -n "$(fc-list :lang=zh family 2>/dev/null)" ]; then
    return 0
  fi
  tarnwell_apt_install fontconfig fonts-noto-cjk
}

# Installs the named packages that dpkg reports missing.
tarnwell_apt_install() {
  local missing=()
  local pkg
  for pkg in "$@"; do
    if ! dpkg-query -W -f='${Status}' "$pkg" 2>/dev/null | grep -q 'install ok installed'; then
      missing+=("$pkg")
    fi
  done
  [ ${#missing[@]} -eq 0 ] && return 0

  local sudo=""
  if [ "$(id -u)" -ne 0 ]; then
    if command -v sudo >/dev/null 2>&1; then
      sudo="sudo"
    else
      echo "Missing packages (${missing[*]}) and no sudo: run this script as root." >&2
      return 1
    fi
  fi
  echo "Installing: ${missing[*]}"
  $sudo apt-get update -qq || return 1
  DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq --no-install-recommends "${missing[@]}" || return 1
}
