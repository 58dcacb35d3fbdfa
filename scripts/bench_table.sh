#!/usr/bin/env bash
# Renders a TABLE of 100000 rows from SQLite and prints rows per second,
# next to the sqlite3 shell's own HTML output of the same query.
# Usage: scripts/bench_table.sh [path to vexil] [rows]
set -euo pipefail
vexil=${1:-build/vexil}
rows=${2:-100000}
vexil=$(realpath "$vexil")
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cd "$work"

driver=$(find /usr/lib -name 'libsqlite3odbc.so' 2>/dev/null | head -n 1)
printf '[SQLite3]\nDescription=SQLite3 ODBC Driver\nDriver=%s\n' "$driver" > odbcinst.ini
export ODBCSYSINI=$work

sqlite3 bench.db <<SQL
CREATE TABLE items (id INTEGER PRIMARY KEY, name TEXT, price REAL, city TEXT);
WITH RECURSIVE n(i) AS (SELECT 1 UNION ALL SELECT i + 1 FROM n WHERE i < $rows)
INSERT INTO items SELECT i, 'item ' || i, i * 0.25, 'city ' || (i % 97) FROM n;
SQL
query='SELECT id, name, price, city FROM items ORDER BY id'
printf '<!--DATABASE DRIVER=SQLite3;Database=bench.db-->\n<!--SQL %s-->\n<!--TABLE BORDER-->\n' "$query" > page.htm

seconds() {
  local start end
  start=$(date +%s.%N)
  "$@" > /dev/null
  end=$(date +%s.%N)
  awk -v a="$start" -v b="$end" 'BEGIN { printf "%.3f", b - a }'
}
rate() { awk -v n="$1" -v t="$2" 'BEGIN { printf "%.0f", n / t }'; }

t_vexil=$(seconds "$vexil" -i page.htm)
t_shell=$(seconds sqlite3 -html bench.db "$query")
lines=$("$vexil" -i page.htm | grep -c '^<TR><TD>')
[ "$lines" -eq "$rows" ] || { echo "expected $rows table rows, got $lines" >&2; exit 1; }
printf 'vexil TABLE : %8d rows in %6.3f s = %10.0f rows/s\n' "$rows" "$t_vexil" "$(rate "$rows" "$t_vexil")"
printf 'sqlite3 -html: %8d rows in %6.3f s = %10.0f rows/s\n' "$rows" "$t_shell" "$(rate "$rows" "$t_shell")"
