# Sourced by the benchmark scripts that serve the 20-row page: makes
# bench.db (items: id, name, price; 20 rows) and an odbcinst.ini naming the
# SQLite ODBC driver in the current folder, points the driver manager at
# them, and sets $connect to the page's connect text.
sqlite3 bench.db <<'SQL'
CREATE TABLE items (id INTEGER PRIMARY KEY, name TEXT, price INTEGER);
WITH RECURSIVE n(i) AS (SELECT 1 UNION ALL SELECT i + 1 FROM n WHERE i < 20)
INSERT INTO items SELECT i, 'item ' || i, i * 25 FROM n;
SQL
printf '[SQLite3]\nDriver=%s\n' "$(find /usr/lib -name 'libsqlite3odbc.so' 2>/dev/null | head -n 1)" >odbcinst.ini
: >odbc.ini
export ODBCSYSINI=$PWD ODBCINI=$PWD/odbc.ini
connect="DRIVER=SQLite3;Database=$PWD/bench.db"
