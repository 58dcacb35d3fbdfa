#!/usr/bin/env bash
# A persistent worker and a private PostgreSQL server (tests/db/pg_server.sh,
# on a loopback port): the worker keeps its connection from one request to
# the next, rolls back what a request left open, and after the server was
# restarted between two requests the next request connects again and
# succeeds.
#
# Usage: pg_reconnect.sh <vexil binary> <pg_server.sh>
# Exit status: 0 pass, 1 fail, 77 cgi-fcgi or the server binaries missing (1
# instead when VEXIL_REQUIRE_ALL=1).
set -uo pipefail

# shellcheck source=common.sh
source "$(dirname "$0")/common.sh"
[[ $# -eq 2 && -x $1 && -f $2 ]] || fail "usage: $0 <vexil binary> <pg_server.sh>"
vexil=$(realpath "$1")
pg_server=$(realpath "$2")

work=$(mktemp -d "${TMPDIR:-/tmp}/vexil-fcgi.XXXXXX") || fail "mktemp failed"
master=
# shellcheck disable=SC2317  # runs as the EXIT trap
on_exit() {
  [[ -n $master ]] && kill "$master" 2>/dev/null && wait "$master" 2>/dev/null
  bash "$pg_server" stop "$work/pg" >/dev/null
  [[ -s $work/master.err ]] && { echo "----- master's stderr"; cat "$work/master.err"; }
  rm -rf "$work"
}
trap on_exit EXIT
cd "$work" || fail "cannot enter $work"

bash "$pg_server" start "$work/pg"
case $? in
  0) ;;
  77) exit 77 ;;
  *) fail "the PostgreSQL server did not start" ;;
esac
setting() { sed -n "s/^$1=//p" "$work/pg/env"; }
port=$(setting port)
bindir=$(setting bindir)
rundir=$(setting rundir)
"$bindir/psql" -X -q -h 127.0.0.1 -p "$port" -U vexil -d postgres -v ON_ERROR_STOP=1 \
  -c 'CREATE TABLE t (a INTEGER); INSERT INTO t VALUES (42);' || fail "cannot make the table"

dsn="DRIVER=PostgreSQL ANSI;Servername=127.0.0.1;Port=$port;Database=postgres;Username=vexil;Password=;SSLmode=disable"
printf '<!--DATABASE %s-->\n<!--SQL SELECT a, pg_backend_pid() AS backend FROM t ORDER BY a-->\n[$sql_status$] a=$a$ backend=$backend$\n' \
  "$dsn" >read.htm
printf '<!--DATABASE %s-->\n<!--SQL BEGIN-->\n<!--SQL INSERT INTO t VALUES (7)-->\n[$sql_status$]\n' "$dsn" >open.htm

request() {
  env -i PATH="$PATH" ODBCSYSINI="${ODBCSYSINI:-}" ODBCINI="${ODBCINI:-}" REQUEST_METHOD=GET \
    QUERY_STRING="input=$1" VEXIL_OPEN=1 VEXIL_WORK_FOLDER="$work" timeout 30 \
    cgi-fcgi -bind -connect "$work/sock"
}
backend_of() { sed -n 's/.*backend=\([0-9]*\).*/\1/p' <<<"$1"; }

"$vexil" --fastcgi "$work/sock" --workers 1 2>"$work/master.err" &
master=$!
wait_for_server "$work/sock"

one=$(request read.htm)
[[ $one == *'[0] a=42 backend='* ]] || fail "first request: $one"
two=$(request open.htm)
[[ $two == *'[1]'* ]] || fail "the insert in an open transaction: $two"
three=$(request read.htm)
[[ $three == *'[0] a=42 backend='* ]] || fail "the request after the open transaction: $three"
[[ $(backend_of "$one") == "$(backend_of "$three")" ]] ||
  fail "the connection was not kept: backends $(backend_of "$one") and $(backend_of "$three")"
rows=$("$bindir/psql" -X -q -A -t -h 127.0.0.1 -p "$port" -U vexil -d postgres -c 'SELECT count(*) FROM t')
[[ $rows == 1 ]] || fail "the open transaction was not rolled back: $rows rows"

as_server() { if [[ $EUID -eq 0 ]]; then (cd / && runuser -u postgres -- "$@"); else "$@"; fi; }
as_server "$bindir/pg_ctl" restart -D "$rundir/data" -m fast -w -t 60 >/dev/null || fail "restart failed"

four=$(request read.htm)
[[ $four == *'[0] a=42 backend='* ]] || fail "the request after the restart: $four"
[[ $(backend_of "$four") != "$(backend_of "$three")" ]] || fail "no new connection after the restart"
grep -q . master.err && fail "the master or its worker wrote to standard error"
echo "PASS: connection kept, open transaction rolled back, reconnected after a server restart"
