#!/usr/bin/env bash
# Installs what is needed, builds Vexil and runs the example price list: a
# page that reads a small SQLite database through ODBC, with variables, a
# DEFAULT list, FORMAT pictures, conditions and a computed value.
set -euo pipefail
cd "$(dirname "$0")/.."

bash scripts/install-deps.sh
cmake -S . -B build
cmake --build build -j2

# A fresh example database, and a driver list of our own so that the demo
# does not depend on how the machine's ODBC is configured.
demo=build/demo
rm -rf "$demo"
mkdir -p "$demo"
sqlite3 "$demo/shop.db" < examples/shop.sql
driver=$(find /usr/lib -name 'libsqlite3odbc.so' 2>/dev/null | head -n 1)
printf '[SQLite3]\nDescription=SQLite3 ODBC Driver\nDriver=%s\n' "$driver" > "$demo/odbcinst.ini"
: > "$demo/odbc.ini"

echo
echo "\$ cd $demo && vexil -i examples/shop.htm"
cd "$demo"
ODBCSYSINI="$PWD" ODBCINI="$PWD/odbc.ini" ../vexil -i ../../examples/shop.htm
