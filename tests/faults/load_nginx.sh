#!/usr/bin/env bash
# Load through a real web server: deploy/nginx-fastcgi.conf in nginx on a
# loopback port, vexil --fastcgi with its two workers behind it, and ab
# sending 10,000 requests, 16 at a time, for a locked page that reads 17 of
# 20 rows from SQLite in a row loop with substitutions. Every answer must be
# a 200 of the right length (ab counts a length that differs from the first
# answer's as failed, and that one is checked exactly), and the workers'
# memory (VmRSS) after 10,000 requests may be at most 10% over what it was
# after 1,000: a run that kept anything per request would show there (not
# in the sanitizer build, whose quarantine keeps freed memory).
#
# Usage: load_nginx.sh <vexil binary> <source folder>
# shellcheck source=../deploy/common.sh
source "$(dirname "$0")/../deploy/common.sh"
need nginx ab curl sqlite3
start_work load "$@"

sqlite3 "$work/data.db" <<'SQL' || fail "cannot make the database"
CREATE TABLE items (id INTEGER PRIMARY KEY, name TEXT, price INTEGER);
WITH RECURSIVE n(i) AS (SELECT 1 UNION ALL SELECT i + 1 FROM n WHERE i < 20)
INSERT INTO items SELECT i, 'item ' || i, i * 25 FROM n;
SQL
chmod 644 "$work/data.db"
cat >"$work/templates/items.htm" <<PAGE
<!--DATABASE DRIVER=SQLite3;Database=$work/data.db-->
<!--SQL SELECT id, name, price FROM items WHERE price >= \$min\$ ORDER BY id-->
<TABLE><!--EACHROW-->
<TR><TD>\$row\$</TD><TD>\$id\$</TD><TD>\$name\$</TD><TD>\$price\$</TD></TR><!--ENDROW-->
</TABLE><P>from \$min\$: [\$sql_status\$]</P>
PAGE
want="<TABLE>"
for i in $(seq 4 20); do want+=$'\n'"<TR><TD>$((i - 3))</TD><TD>$i</TD><TD>item $i</TD><TD>$((i * 25))</TD></TR>"; done
want+=$'\n''</TABLE><P>from 100: [0]</P>'

start_vexil
master=${pids[-1]}
serve run_nginx nginx-fastcgi.conf
url=/pages/items.htm?min=100
check "the page" 200 "$want" "http://127.0.0.1:$port$url"
[[ $failures -eq 0 ]] || fail "the page is not right; no load sent"

# load N: N requests, 16 at a time; fails unless all are complete 200s.
load() {
  local report=$work/logs/ab.$1
  ab -q -n "$1" -c 16 "http://127.0.0.1:$port$url" >"$report" 2>&1 || { cat "$report"; fail "ab failed"; }
  grep -q "^Complete requests: *$1\$" "$report" && grep -q '^Failed requests: *0$' "$report" &&
    ! grep -q '^Non-2xx responses' "$report" && grep -q "^Document Length: *$((${#want} + 1)) bytes" "$report" ||
    { cat "$report"; fail "$1 requests: not every answer was a complete 200 of the page's length"; }
  echo "ok [$1 requests] $(sed -n 's/^Requests per second: *\([0-9.]*\).*/\1 requests\/s/p' "$report")"
}
# rss: the workers' VmRSS in kB, added up.
rss() {
  local total=0 kb pid workers
  workers=$(pgrep -P "$master") || fail "no workers under the master $master"
  for pid in $workers; do
    kb=$(awk '/^VmRSS:/ { print $2 }' "/proc/$pid/status") || fail "no status for worker $pid"
    total=$((total + kb))
  done
  echo "$total"
}

load 1000
before=$(rss)
load 9000
after=$(rss)
check "the page after the load" 200 "$want" "http://127.0.0.1:$port$url"
echo "workers' VmRSS: $before kB after 1,000 requests, $after kB after 10,000"
# A sanitizer build holds freed memory back (its quarantine): no measure.
if [[ ${VEXIL_TEST_SANITIZED:-OFF} != ON ]]; then
  ((after * 10 <= before * 11)) || fail "the workers grew by more than 10%: $before kB to $after kB"
fi
finish "checks passed; 10,000 requests through nginx without an error, the workers' memory level"
