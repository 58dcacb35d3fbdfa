# shellcheck shell=bash
# Sourced by the FastCGI and fault test scripts: fail, the check for a tool,
# a temporary folder cleaned up on exit, one vexil --fastcgi worker on a
# socket there, requests to it with cgi-fcgi (Debian: libfcgi-bin), and a
# private PostgreSQL server (tests/db/pg_server.sh).
#
# Exit status of a script: 0 pass, 1 fail, 77 a tool missing (1 instead when
# VEXIL_REQUIRE_ALL=1).
set -uo pipefail
# shellcheck source=../tools.sh
source "$(dirname "${BASH_SOURCE[0]}")/../tools.sh"

# make_work NAME VEXIL [PG_SERVER]: $vexil and $pg_server from the
# arguments, $work a new folder, entered. On exit the worker, the PostgreSQL
# server and what the script's own `cleanup` names are stopped, the master's
# standard error is shown, and the folder removed.
make_work() {
  local name=$1
  shift
  [[ -x ${1:-} && ( $# -eq 1 || -f ${2:-} ) ]] || fail "usage: $0 <vexil binary> [<pg_server.sh>]"
  vexil=$(realpath "$1")
  pg_server=${2:+$(realpath "$2")}
  work=$(mktemp -d "${TMPDIR:-/tmp}/vexil-$name.XXXXXX") || fail "mktemp failed"
  master= pg_started=
  trap on_exit EXIT
  cd "$work" || fail "cannot enter $work"
}

# shellcheck disable=SC2317  # runs as the EXIT trap
on_exit() {
  [[ -n $master ]] && kill "$master" 2>/dev/null && wait "$master" 2>/dev/null
  declare -F cleanup >/dev/null && cleanup
  [[ -n $pg_started ]] && bash "$pg_server" stop "$work/pg" >/dev/null
  [[ -s $work/master.err ]] && { echo "----- master's stderr"; cat "$work/master.err"; }
  rm -rf "$work"
}

# Waits until a FastCGI server answers on the socket $1 (its file appears
# before the server listens on it): a request without variables gets an
# error page.
wait_for_server() {
  local client
  client=$(command -v cgi-fcgi)
  for _ in $(seq 100); do
    [[ -n $(env -i "$client" -bind -connect "$1" 2>/dev/null) ]] && return 0
    sleep 0.1
  done
  fail "nothing answers on $1"
}

# start_worker [KB]: vexil --fastcgi with one worker on $work/sock (under
# ulimit -v KB when given), its standard error in $work/master.err.
start_worker() {
  (
    [[ -z ${1:-} ]] || ulimit -v "$1" || exit 99
    exec "$vexil" --fastcgi "$work/sock" --workers 1 2>"$work/master.err"
  ) &
  master=$!
  wait_for_server "$work/sock"
}

# stop_worker: ends the worker; fails when it wrote to standard error.
stop_worker() {
  kill "$master" && wait "$master"
  master=
  [[ -s $work/master.err ]] && fail "the master or its worker wrote to standard error"
}

# fcgi NAME=VALUE...: the answer of the worker on ${socket:-$work/sock} to a
# request with those parameters, the ODBC settings and $work as its folder.
fcgi() {
  env -i PATH="$PATH" ODBCSYSINI="${ODBCSYSINI:-}" ODBCINI="${ODBCINI:-}" VEXIL_WORK_FOLDER="$work" "$@" \
    timeout 30 cgi-fcgi -bind -connect "${socket:-$work/sock}"
}

# start_pg: a private PostgreSQL server in $work/pg on a loopback port; its
# $bindir and $rundir, and $dsn, a connect text for its database.
start_pg() {
  bash "$pg_server" start "$work/pg"
  case $? in
    0) ;;
    77) exit 77 ;;
    *) fail "the PostgreSQL server did not start" ;;
  esac
  pg_started=1
  port=$(sed -n 's/^port=//p' "$work/pg/env")
  bindir=$(sed -n 's/^bindir=//p' "$work/pg/env")
  rundir=$(sed -n 's/^rundir=//p' "$work/pg/env")
  dsn="DRIVER=PostgreSQL ANSI;Servername=127.0.0.1;Port=$port;Database=postgres;Username=vexil;Password=;SSLmode=disable"
}

# pg_sql ARGS...: psql against the server's database, unaligned, no headings.
pg_sql() { "$bindir/psql" -X -q -A -t -h 127.0.0.1 -p "$port" -U vexil -d postgres -v ON_ERROR_STOP=1 "$@"; }

# as_server COMMAND...: runs it as the server's owner (postgres under root).
as_server() { if [[ $EUID -eq 0 ]]; then (cd / && runuser -u postgres -- "$@"); else "$@"; fi; }
