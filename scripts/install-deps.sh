#!/usr/bin/env bash
# Installs the Debian packages the build, the tests and the demo need, when
# any is missing. Needs root (or sudo) only when something has to be installed.
set -euo pipefail
packages=(cmake g++ make libgtest-dev qt6-base-dev libsqlite3-dev libicu-dev mdbtools-dev pkg-config sqlite3 python3 libqt6sql6-sqlite fonts-liberation xvfb xauth libxcb1-dev openbox x11-utils imagemagick xdotool libwmf-bin acl at-spi2-core dbus libglib2.0-bin postgresql odbc-postgresql unixodbc unixodbc-dev)
# --packaging: also what building and checking the Debian package needs (CI).
[ "${1:-}" = "--packaging" ] && packages+=(dpkg-dev file lintian)
missing=()
for p in "${packages[@]}"; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
[ ${#missing[@]} -eq 0 ] && exit 0
echo "Installing: ${missing[*]}"
SUDO=""
[ "$(id -u)" -ne 0 ] && SUDO="sudo"
export DEBIAN_FRONTEND=noninteractive
$SUDO apt-get update -qq
$SUDO apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
