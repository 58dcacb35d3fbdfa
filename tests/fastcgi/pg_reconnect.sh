#!/usr/bin/env bash
# A persistent worker and a private PostgreSQL server (tests/db/pg_server.sh,
# on a loopback port): the worker keeps its connection from one request to
# the next, rolls back what a request left open, and after the server was
# restarted between two requests the next request connects again and
# succeeds.
#
# Usage: pg_reconnect.sh <vexil binary> <pg_server.sh>
# shellcheck source=common.sh
source "$(dirname "$0")/common.sh"
need cgi-fcgi
make_work fcgi-pg "$@"
start_pg
pg_sql -c 'CREATE TABLE t (a INTEGER); INSERT INTO t VALUES (42);' || fail "cannot make the table"

printf '<!--DATABASE %s-->\n<!--SQL SELECT a, pg_backend_pid() AS backend FROM t ORDER BY a-->\n[$sql_status$] a=$a$ backend=$backend$\n' \
  "$dsn" >read.htm
printf '<!--DATABASE %s-->\n<!--SQL BEGIN-->\n<!--SQL INSERT INTO t VALUES (7)-->\n[$sql_status$]\n' "$dsn" >open.htm

request() { fcgi REQUEST_METHOD=GET QUERY_STRING="input=$1" VEXIL_OPEN=1; }
backend_of() { sed -n 's/.*backend=\([0-9]*\).*/\1/p' <<<"$1"; }

start_worker
one=$(request read.htm)
[[ $one == *'[0] a=42 backend='* ]] || fail "first request: $one"
two=$(request open.htm)
[[ $two == *'[1]'* ]] || fail "the insert in an open transaction: $two"
three=$(request read.htm)
[[ $three == *'[0] a=42 backend='* ]] || fail "the request after the open transaction: $three"
[[ $(backend_of "$one") == "$(backend_of "$three")" ]] ||
  fail "the connection was not kept: backends $(backend_of "$one") and $(backend_of "$three")"
rows=$(pg_sql -c 'SELECT count(*) FROM t')
[[ $rows == 1 ]] || fail "the open transaction was not rolled back: $rows rows"

as_server "$bindir/pg_ctl" restart -D "$rundir/data" -m fast -w -t 60 >/dev/null || fail "restart failed"

four=$(request read.htm)
[[ $four == *'[0] a=42 backend='* ]] || fail "the request after the restart: $four"
[[ $(backend_of "$four") != "$(backend_of "$three")" ]] || fail "no new connection after the restart"
stop_worker
echo "PASS: connection kept, open transaction rolled back, reconnected after a server restart"
