#!/usr/bin/env bash
# The PostgreSQL server dies in the middle of a row loop that fetches
# through a cursor two rows at a time (UseDeclareFetch=1;Fetch=2): the body
# of row 2 stops the server at once (pg_ctl stop -m immediate, which ends
# every backend), so the fetch of row 3 meets a dead connection. The page
# must say so: the rows stop, the error is reported, sql_status is negative
# and sql_error holds the driver's message; it must not look like the end
# of the rows.
#
# Usage: pg_killed_mid_loop.sh <vexil binary> <pg_server.sh>
# shellcheck source=../fastcgi/common.sh
source "$(dirname "$0")/../fastcgi/common.sh"
make_work pgkill "$@"
start_pg >/dev/null

# Called by the loop body with the row number: at row 2 the server goes.
{
  echo '#!/usr/bin/env bash'
  declare -f as_server
  echo '[[ $1 == 2 ]] || exit 0'
  echo "as_server '$bindir/pg_ctl' stop -D '$rundir/data' -m immediate -w -t 30 >/dev/null 2>&1"
} >stop.sh
chmod +x stop.sh
cat >page.htm <<PAGE
<!--DATABASE $dsn;UseDeclareFetch=1;Fetch=2-->
<!--SQL SELECT a FROM generate_series(1, 50) AS g(a)-->
<!--EACHROW-->row [\$a\$]<!--EXEC ./stop.sh \$a\$-->
<!--ENDROW-->
after: [\$sql_status\$] [\$sql_error\$]
PAGE

timeout 60 "$vexil" -i page.htm >out.txt 2>err.txt
code=$?
[[ $code -ne 124 ]] || fail "the run did not end within 60 s"
[[ ! -s err.txt ]] || { cat err.txt; fail "the run wrote to standard error"; }
show() { echo "----- the page (exit $code)"; cat out.txt; }
[[ -f $rundir/data/postmaster.pid ]] && { show; fail "the server was not stopped by the loop body"; }
rows=$(grep -c '^row \[' out.txt)
[[ $rows == 2 ]] || { show; fail "$rows rows shown, expected the 2 fetched before the server died"; }
grep -q '^Vexil Error: DATABASE ERROR: [0-9A-Z]\{5\} .' out.txt || { show; fail "the failed fetch was not reported"; }
grep -q '^\[Error in file page.htm line 4\]' out.txt || { show; fail "the report does not name the ENDROW line, where the fetch failed"; }
after=$(sed -n '/^after: /,$p' out.txt)
[[ $after == 'after: [-'[0-9]*'] [DATABASE ERROR: '?????' '?* ]] ||
  { show; fail "after the loop: '$after', expected a negative sql_status and the driver's message"; }
echo "PASS: the server's death mid-loop ends the rows as an error: $after"
