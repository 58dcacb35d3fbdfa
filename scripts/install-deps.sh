#!/usr/bin/env bash
# Installs every Debian package needed to build Vexil and run all of its tests.
# Safe to run repeatedly: when everything is present already it returns at once
# without touching apt.
set -euo pipefail

packages=(
  g++
  make
  clang
  libclang-rt-14-dev
  cmake
  libgtest-dev
  unixodbc
  unixodbc-dev
  libsqliteodbc
  sqlite3
  postgresql
  odbc-postgresql
  libfcgi-dev
  libfcgi-bin
  lighttpd
  nginx-light
  fcgiwrap
  apache2
  systemd
  curl
  time
)

missing=()
for p in "${packages[@]}"; do
  status=$(dpkg-query -W -f='${db:Status-Status}' "$p" 2>/dev/null || true)
  if [[ "$status" != "installed" ]]; then
    missing+=("$p")
  fi
done

if [[ ${#missing[@]} -eq 0 ]]; then
  echo "install-deps: all packages already installed"
  exit 0
fi

echo "install-deps: installing ${missing[*]}"

SUDO=()
if [[ $(id -u) -ne 0 ]]; then
  SUDO=(sudo)
fi

export DEBIAN_FRONTEND=noninteractive
"${SUDO[@]}" apt-get update -q
"${SUDO[@]}" apt-get install -y -q --no-install-recommends "${missing[@]}"

# The postgresql package may create and start a default cluster, and the
# lighttpd package may start a server on port 80. The tests start their own
# servers on free loopback ports and rely on neither.
echo "install-deps: done"
