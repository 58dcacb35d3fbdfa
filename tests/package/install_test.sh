#!/usr/bin/env bash
# The installed program as a user gets it: `cmake --install` into a fresh
# prefix and the .deb that CPack makes, unpacked into an empty root. From
# each, the example price list runs from the installed files alone, the
# manual page renders without warnings, and --help and --version answer as
# a command-line program's do.
#
# Usage: install_test.sh <build folder> <source folder>
set -uo pipefail
build=$(realpath "$1")
source_dir=$(realpath "$2")
fail() { echo "FAIL: $*"; exit 1; }
for tool in cpack dpkg-deb dpkg-shlibdeps groff sqlite3; do
  command -v "$tool" >/dev/null || fail "$tool is not installed"
done
work=$(mktemp -d "${TMPDIR:-/tmp}/vexil-package.XXXXXX") || fail "mktemp failed"
trap 'rm -rf "$work"' EXIT
version=$(sed -nE 's/^project\(vexil VERSION ([0-9.]+).*/\1/p' "$source_dir/CMakeLists.txt")
[[ -n $version ]] || fail "no version in CMakeLists.txt"
driver=$(find /usr/lib -name 'libsqlite3odbc.so' 2>/dev/null | head -n 1)
[[ -n $driver ]] || fail "the SQLite ODBC driver is not installed"

# check_tree ROOT: the files of an installation under ROOT (its /usr), and
# the example run from them.
check_tree() {
  local usr=$1/usr doc=$1/usr/share/doc/vexil out
  for file in bin/vexil share/man/man1/vexil.1 share/doc/vexil/README.md \
              share/doc/vexil/examples/shop.htm share/doc/vexil/examples/shop.sql \
              share/doc/vexil/deploy/nginx-fastcgi.conf share/doc/vexil/deploy/vexil.service; do
    [[ -f $usr/$file ]] || fail "$1: no $file"
  done
  [[ $("$usr/bin/vexil" --version) == "vexil $version" ]] || fail "$1: --version says $("$usr/bin/vexil" --version)"
  out=$("$usr/bin/vexil" --help) || fail "$1: --help exits $?"
  [[ $out == "Usage: vexil -i TEMPLATE"* ]] || fail "$1: --help does not begin with the usage"
  grep -q "^\.TH VEXIL 1 .*\"vexil $version\"" "$usr/share/man/man1/vexil.1" || fail "$1: the manual page names another version"
  out=$(groff -man -Tutf8 -ww "$usr/share/man/man1/vexil.1" 2>&1 >/dev/null)
  [[ -z $out ]] || fail "$1: the manual page has warnings: $out"

  local site=$work/site-$(basename "$1")
  mkdir -p "$site"
  sqlite3 "$site/shop.db" <"$doc/examples/shop.sql" || fail "$1: shop.sql does not load"
  printf '[SQLite3]\nDriver=%s\n' "$driver" >"$site/odbcinst.ini"
  : >"$site/odbc.ini"
  out=$(cd "$site" && ODBCSYSINI=$site ODBCINI=$site/odbc.ini "$usr/bin/vexil" -i "$doc/examples/shop.htm") ||
    fail "$1: the example exits $?"
  grep -qF '<tr><td>Croissant</td><td align="right">1.25</td><td>4 (low)</td><td align="right">1.50</td></tr>' <<<"$out" &&
    grep -qF '<p>6 products; the stock is worth 766.25.</p>' <<<"$out" ||
    fail "$1: the example's page is not the price list:
$out"
  echo "ok: $1"
}

cmake --install "$build" --prefix "$work/prefix/usr" >"$work/install.log" 2>&1 || fail "cmake --install: $(cat "$work/install.log")"
check_tree "$work/prefix"

(cd "$work" && cpack -G DEB --config "$build/CPackConfig.cmake" -B "$work/pkg") >"$work/cpack.log" 2>&1 ||
  fail "cpack: $(tail -20 "$work/cpack.log")"
deb=$(find "$work/pkg" -maxdepth 1 -name 'vexil_*.deb' | head -n 1)
[[ -n $deb ]] || fail "cpack made no vexil_*.deb"
depends=$(dpkg-deb -f "$deb" Depends)
for library in libodbc libssl libfcgi; do
  [[ $depends == *"$library"* ]] || fail "the package does not depend on $library: $depends"
done
[[ $(dpkg-deb -f "$deb" Version) == "$version" ]] || fail "the package's version is $(dpkg-deb -f "$deb" Version)"
dpkg-deb -x "$deb" "$work/root" || fail "dpkg-deb -x failed"
check_tree "$work/root"
echo "PASS: cmake --install and $(basename "$deb") install the program, manual, guide, examples and deploy files"
