#!/usr/bin/env bash
# A TABLE from SQLite through ODBC, written to a file: rows per second for
# 100000 rows next to the sqlite3 shell's HTML output of the same query
# (medians of 5 runs, both sides in turns), and the peak memory of TABLE
# and EACHROW from 1000 to 1000000 rows, with the connect text a user
# writes. Needs GNU time (/usr/bin/time, Debian package "time").
# Usage: scripts/bench_table.sh [path to vexil] [rows]
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
vexil=$(realpath "${1:-build/vexil}")
rows=${2:-100000}
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cd "$work"

driver=$(find /usr/lib -name 'libsqlite3odbc.so' 2>/dev/null | head -n 1)
printf '[SQLite3]\nDescription=SQLite3 ODBC Driver\nDriver=%s\n' "$driver" > odbcinst.ini
export ODBCSYSINI=$work ODBCINI=$work/odbc.ini
: > odbc.ini

make_db() {  # name rows
  sqlite3 "$1" <<SQL
CREATE TABLE items (id INTEGER PRIMARY KEY, name TEXT, price REAL, city TEXT);
WITH RECURSIVE n(i) AS (SELECT 1 UNION ALL SELECT i + 1 FROM n WHERE i < $2)
INSERT INTO items SELECT i, 'item ' || i, i * 0.25, 'city ' || (i % 97) FROM n;
SQL
}
query='SELECT id, name, price, city FROM items ORDER BY id'
page() {  # database, TABLE or EACHROW
  printf '<!--DATABASE DRIVER=SQLite3;Database=%s-->\n<!--SQL %s-->\n' "$1" "$query"
  if [ "$2" = TABLE ]; then
    printf '<!--TABLE BORDER-->\n'
  else
    printf '<!--EACHROW--><TR><TD>$id$</TD><TD>$name$</TD><TD>$price$</TD><TD>$city$</TD></TR>\n<!--ENDROW-->\n'
  fi
}
make_db bench.db "$rows"
page bench.db TABLE > table.htm

# The ODBC floor (scripts/odbc_floor.c): a C program that fetches the same
# query through the driver manager and the same driver (in the step mode
# vexil asks for) and prints the same table, with no template. What it
# cannot do faster than the sqlite3 shell is the ODBC stack's cost, not
# vexil's.
cc -O2 -o floor "$root/scripts/odbc_floor.c" -lodbc
floor_connect="DRIVER=SQLite3;Database=$work/bench.db;StepAPI=1"
"$vexil" -i table.htm > vexil.out
./floor "$floor_connect" "$query" table > floor.out
cmp -s vexil.out floor.out || { echo "vexil and the floor program wrote different tables" >&2; exit 1; }

microseconds() {  # output file, command...
  local out=$1 start
  shift
  start=$(date +%s%N)
  "$@" > "$out"
  echo $((($(date +%s%N) - start) / 1000))
}
median() { sort -n | awk '{ v[NR] = $1 } END { printf "%.3f", v[int((NR + 1) / 2)] / 1e6 }'; }

: > vexil.times
: > shell.times
: > floor.times
for _ in 1 2 3 4 5; do
  microseconds vexil.out "$vexil" -i table.htm >> vexil.times
  microseconds floor.out ./floor "$floor_connect" "$query" table >> floor.times
  microseconds shell.out sqlite3 -html bench.db "$query" >> shell.times
done
lines=$(grep -c '^<TR><TD>' vexil.out)
[ "$lines" -eq "$rows" ] || { echo "expected $rows table rows, got $lines" >&2; exit 1; }
t_vexil=$(median < vexil.times)
t_floor=$(median < floor.times)
t_shell=$(median < shell.times)
rate() { awk -v n="$rows" -v t="$1" 'BEGIN { printf "%.0f", n / t }'; }
printf 'vexil TABLE  : %8d rows in %6.3f s = %8d rows/s (median of 5)\n' "$rows" "$t_vexil" "$(rate "$t_vexil")"
printf 'ODBC floor   : %8d rows in %6.3f s = %8d rows/s (median of 5)\n' "$rows" "$t_floor" "$(rate "$t_floor")"
printf 'sqlite3 -html: %8d rows in %6.3f s = %8d rows/s (median of 5)\n' "$rows" "$t_shell" "$(rate "$t_shell")"
awk -v v="$t_vexil" -v f="$t_floor" -v s="$t_shell" 'BEGIN {
  printf "vexil rows/s = %.2fx sqlite3 -html, %.2fx the ODBC floor (the floor: %.2fx sqlite3 -html)\n", s / v, f / v, s / f }'

# Peak memory (maximum resident set, KB) at 1000, $rows and 1000000 rows;
# the sqlite3 shell's beside it (SQLite's own page cache grows to its
# default 2 MB on any database larger than that, then stays).
make_db small.db 1000
make_db large.db 1000000
peak() { /usr/bin/time -f %M "$@" 2>&1 > /dev/null | tail -n 1; }
for command in TABLE EACHROW; do
  sizes=""
  for db in small.db bench.db large.db; do
    page "$db" "$command" > peak.htm
    sizes="$sizes $(peak "$vexil" -i peak.htm)"
  done
  printf '%-7s peak KB at 1000 / %d / 1000000 rows: %s\n' "$command" "$rows" "$sizes"
done
sizes=""
for db in small.db bench.db large.db; do sizes="$sizes $(peak sqlite3 -html "$db" "$query")"; done
printf 'sqlite3 peak KB at 1000 / %d / 1000000 rows: %s\n' "$rows" "$sizes"
