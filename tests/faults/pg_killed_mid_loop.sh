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
# Exit status: 0 pass, 1 fail, 77 no server binaries (1 instead when
# VEXIL_REQUIRE_ALL=1).
set -uo pipefail
fail() { echo "FAIL: $*"; exit 1; }
[[ $# -eq 2 && -x $1 && -f $2 ]] || fail "usage: $0 <vexil binary> <pg_server.sh>"
vexil=$(realpath "$1")
pg_server=$(realpath "$2")

work=$(mktemp -d "${TMPDIR:-/tmp}/vexil-pgkill.XXXXXX") || fail "mktemp failed"
# shellcheck disable=SC2317  # runs as the EXIT trap
on_exit() {
  bash "$pg_server" stop "$work/pg" >/dev/null
  rm -rf "$work"
}
trap on_exit EXIT
cd "$work" || fail "cannot enter $work"

bash "$pg_server" start "$work/pg" >/dev/null
case $? in
  0) ;;
  77) exit 77 ;;
  *) fail "the PostgreSQL server did not start" ;;
esac
setting() { sed -n "s/^$1=//p" "$work/pg/env"; }
port=$(setting port)
bindir=$(setting bindir)
rundir=$(setting rundir)

cat >stop.sh <<STOP
#!/bin/sh
# Called by the loop body with the row number: at row 2 the server goes.
[ "\$1" = 2 ] || exit 0
if [ "\$(id -u)" = 0 ]; then
  cd / && runuser -u postgres -- "$bindir/pg_ctl" stop -D "$rundir/data" -m immediate -w -t 30 >/dev/null 2>&1
else
  "$bindir/pg_ctl" stop -D "$rundir/data" -m immediate -w -t 30 >/dev/null 2>&1
fi
STOP
chmod +x stop.sh
dsn="DRIVER=PostgreSQL ANSI;Servername=127.0.0.1;Port=$port;Database=postgres;Username=vexil;Password=;SSLmode=disable"
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
