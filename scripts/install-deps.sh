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
  libssl-dev
  libsqliteodbc
  sqlite3
  postgresql
  odbc-postgresql
  mariadb-server
  mariadb-client
  odbc-mariadb
  libfcgi-dev
  libfcgi-bin
  lighttpd
  nginx-light
  fcgiwrap
  apache2
  apache2-utils
  systemd
  curl
  dpkg-dev
  groff-base
  chromium
  time
)
# node and npm for the browser test: Debian's, unless the machine has them.
command -v node >/dev/null || packages+=(nodejs)
command -v npm >/dev/null || packages+=(npm)

missing=()
for p in "${packages[@]}"; do
  status=$(dpkg-query -W -f='${db:Status-Status}' "$p" 2>/dev/null || true)
  if [[ "$status" != "installed" ]]; then
    missing+=("$p")
  fi
done

# The browser test's npm packages (playwright-core, which drives the chromium
# above and downloads no browser of its own), when the lock file is newer
# than what node_modules holds. They go to a cache outside the source tree
# (tests/browser/demo_site.sh finds them there).
browser=$(cd "$(dirname "$0")/../tests/browser" && pwd)
modules=${VEXIL_BROWSER_MODULES:-${XDG_CACHE_HOME:-$HOME/.cache}/vexil/browser}
npm_ci() {
  [[ $modules/node_modules/.package-lock.json -nt $browser/package-lock.json ]] && return 0
  echo "install-deps: npm ci in $modules"
  mkdir -p "$modules"
  cp "$browser/package.json" "$browser/package-lock.json" "$modules/"
  (cd "$modules" && PLAYWRIGHT_SKIP_BROWSER_DOWNLOAD=1 npm ci --no-audit --no-fund --loglevel=error)
}

if [[ ${#missing[@]} -eq 0 ]]; then
  npm_ci
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

npm_ci

# The postgresql and mariadb-server packages may create and start a default
# server, and the lighttpd package may start a server on port 80. The tests
# start their own servers on free loopback ports and rely on none of them.
echo "install-deps: done"
