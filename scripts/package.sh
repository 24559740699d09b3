#!/usr/bin/env bash
# Builds the Debian package and checks it.
#
#   scripts/package.sh            build (Release) into build/package, run cpack -G DEB, then check
#                                 the package with lintian, desktop-file-validate and
#                                 appstreamcli validate --no-net
#   scripts/package.sh --install  the same, then install it with dpkg -i, try what it installed
#                                 (man page, desktop entry, metadata, completion, udev rules, the
#                                 programs) and remove it again with dpkg -r
#
# Installs what it needs when missing (as root or with sudo). TARNWELL_PACKAGE_DIR picks the build
# directory. Prints the path of the package as its last line.
set -euo pipefail
cd "$(dirname "$0")/.."
source scripts/deps.sh

install=0
for arg in "$@"; do
  case "$arg" in
    --install) install=1 ;;
    -h | --help) sed -n '2,12p' "$0" | sed 's/^# \{0,1\}//'; exit 0 ;;
    *) echo "package.sh: unknown argument '$arg' (try --help)" >&2; exit 1 ;;
  esac
done

tarnwell_install_deps
tarnwell_install_package_tools

sudo=""
if [ "$(id -u)" -ne 0 ]; then
  sudo="sudo"
fi

step() { printf '\n== %s\n' "$*"; }

build="${TARNWELL_PACKAGE_DIR:-build/package}"
step "build ($build)"
# The distribution's hardening flags, as a Debian build uses them (read at the first configure).
export DEB_BUILD_MAINT_OPTIONS=hardening=+all
CXXFLAGS="$(dpkg-buildflags --get CXXFLAGS) $(dpkg-buildflags --get CPPFLAGS)"
LDFLAGS="$(dpkg-buildflags --get LDFLAGS)"
export CXXFLAGS LDFLAGS
cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release -DTARNWELL_TESTS=OFF -DTARNWELL_BENCH=OFF \
  -DCMAKE_INSTALL_PREFIX=/usr
cmake --build "$build"

step "cpack -G DEB"
rm -f "$build"/tarnwell_*.deb
(cd "$build" && cpack -G DEB)
deb="$(ls "$build"/tarnwell_*_*.deb)"
dpkg-deb --info "$deb"
dpkg-deb --contents "$deb"

contents="$(mktemp -d)"
trap 'rm -rf "$contents"' EXIT
dpkg-deb -x "$deb" "$contents"

step "lintian"
# Errors fail the package; the remaining warnings are listed in the README.
lintian --fail-on error --display-info --tag-display-limit 0 "$deb"

step "desktop-file-validate"
desktop-file-validate "$contents/usr/share/applications/tarnwell.desktop"

step "appstreamcli validate --no-net"
appstreamcli validate --no-net --explain "$contents"/usr/share/metainfo/*.metainfo.xml

step "udev rules"
rules="$(ls "$contents"/lib/udev/rules.d/*.rules)"
if udevadm verify --help >/dev/null 2>&1; then
  udevadm verify "$rules"
else
  echo "udevadm verify needs systemd 254 or later; the form of the rules is checked by ./test.sh" \
    "(test_install) and by udevadm test after --install"
fi

if [ "$install" -eq 1 ]; then
  step "dpkg -i"
  $sudo dpkg -i "$deb"

  step "what the package installed"
  man -w tarnwell-cli
  man -w tarnwell
  man -w tarnwell-sim
  desktop-file-validate /usr/share/applications/tarnwell.desktop
  test -f /usr/share/icons/hicolor/256x256/apps/tarnwell.png
  test -f /usr/share/icons/hicolor/scalable/apps/tarnwell.svg
  # The software centres' view: the metadata of the installed component, found by its id.
  app_id="$(basename "$(ls "$contents"/usr/share/metainfo/*.metainfo.xml)" .metainfo.xml)"
  $sudo appstreamcli refresh-cache --force >/dev/null
  appstreamcli get "$app_id" | tee "$contents/appstream.txt"
  grep -q '^Name: Tarnwell$' "$contents/appstream.txt"
  tarnwell --version
  tarnwell-cli --version
  tarnwell-sim --version
  # Completion as bash offers it: the commands after "tarnwell-cli pl".
  offered="$(bash -c 'source /usr/share/bash-completion/completions/tarnwell-cli
    COMP_WORDS=(tarnwell-cli pl); COMP_CWORD=1; _tarnwell_cli; echo "${COMPREPLY[*]}"')"
  echo "tarnwell-cli pl<TAB>: $offered"
  [ "$offered" = "play plot" ]
  # udev reads the rules without complaint (any tty device will do for the parse); it names a
  # fault as "<file>:<line> <what>".
  if tty="$(ls -d /sys/class/tty/* 2>/dev/null | head -n 1)" && [ -n "$tty" ]; then
    udevadm test --action=add "$tty" > "$contents/udev.txt" 2>&1 || true
    grep -q 'Reading rules file: .*/70-tarnwell-serial\.rules' "$contents/udev.txt"
    if grep -E '70-tarnwell-serial\.rules:[0-9]+' "$contents/udev.txt"; then
      echo "udev complains about the rules above" >&2
      exit 1
    fi
    echo "udevadm test $tty: udev reads the rules without complaint"
  fi
  record="$contents/plot-record.csv"
  printf 'Time(S),Voltage(V),Current(A)\r\n1,5.00,0.500\r\n2,12.00,1.200\r\n' > "$record"
  tarnwell-cli plot "$record" --out "$contents/plot.svg"
  grep -q '<svg' "$contents/plot.svg"

  step "dpkg -r"
  $sudo dpkg -r tarnwell
  for gone in /usr/bin/tarnwell /usr/bin/tarnwell-cli /usr/share/man/man1/tarnwell-cli.1.gz \
    /usr/share/applications/tarnwell.desktop /lib/udev/rules.d/70-tarnwell-serial.rules; do
    if [ -e "$gone" ]; then
      echo "still there after dpkg -r: $gone" >&2
      exit 1
    fi
  done
  echo "removed cleanly"
fi

step "package"
echo "$deb"
