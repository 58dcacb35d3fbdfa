#!/usr/bin/env bash
# Starts or stops a private PostgreSQL server for the database tests.
#
# Usage: pg_server.sh start|stop DIR
# start: a new cluster in a new directory under /tmp (short socket path),
#   trust authentication on its socket and 127.0.0.1 only, listening on
#   127.0.0.1 at a free random port from 20000 to 60000; writes DIR/env
#   (host=, port=, user=, bindir=, rundir= lines). As root the server runs as
#   the user postgres, since PostgreSQL refuses to run as root.
# stop: stops the server that DIR/env names and removes its directory;
#   nothing running is not an error.
# Exit status: 0 done, 1 failure, 77 no server binaries (1 instead when
# VEXIL_REQUIRE_ALL=1).
set -uo pipefail

fail() { echo "FAIL: $*"; exit 1; }

[[ $# -eq 2 && ($1 == start || $1 == stop) ]] || fail "usage: $0 start|stop DIR"
mkdir -p "$2" || fail "cannot create $2"
env_file=$2/env

# Runs a command as the server's user, from / (which that user can enter).
as_server() {
  if [[ $EUID -eq 0 ]]; then (cd / && runuser -u postgres -- "$@"); else (cd / && "$@"); fi
}

stop_server() {
  [[ -f $env_file ]] || return 0
  local bindir rundir
  bindir=$(sed -n 's/^bindir=//p' "$env_file")
  rundir=$(sed -n 's/^rundir=//p' "$env_file")
  if [[ -f $rundir/data/postmaster.pid ]]; then
    as_server "$bindir/pg_ctl" stop -D "$rundir/data" -m fast -w -t 30 >/dev/null 2>&1 ||
      kill -9 "$(head -n 1 "$rundir/data/postmaster.pid")" 2>/dev/null
  fi
  [[ $rundir == /tmp/vexil-pg.* ]] && rm -rf "$rundir"
  rm -f "$env_file"
}

if [[ $1 == stop ]]; then
  stop_server
  echo "PostgreSQL test server stopped"
  exit 0
fi

bindir=${VEXIL_PG_BINDIR:-$(printf '%s\n' /usr/lib/postgresql/*/bin | sort -V | tail -n 1)}
if [[ ! -x $bindir/pg_ctl || ! -x $bindir/initdb ]]; then
  [[ ${VEXIL_REQUIRE_ALL:-} == 1 ]] && fail "no PostgreSQL server binaries (VEXIL_REQUIRE_ALL=1)"
  echo "SKIP: no PostgreSQL server binaries"
  exit 77
fi

stop_server  # one left behind by an interrupted run
rundir=$(mktemp -d /tmp/vexil-pg.XXXXXX) || fail "mktemp failed"
[[ $EUID -eq 0 ]] && chown postgres: "$rundir"
printf 'bindir=%s\nrundir=%s\n' "$bindir" "$rundir" >"$env_file"  # for stop_server

die() {
  cat "$rundir/initdb.log" "$rundir/log" 2>/dev/null
  stop_server
  fail "$*"
}

as_server "$bindir/initdb" -D "$rundir/data" -U vexil -A trust -E UTF8 --locale=C -N \
  >"$rundir/initdb.log" 2>&1 || die "initdb failed"
printf 'local all all trust\nhost all all 127.0.0.1/32 trust\n' >"$rundir/data/pg_hba.conf"
# Durability is of no use to throw-away test databases; speed is.
cat >>"$rundir/data/postgresql.conf" <<EOF
listen_addresses = '127.0.0.1'
unix_socket_directories = '$rundir'
fsync = off
synchronous_commit = off
full_page_writes = off
shared_buffers = 16MB
max_connections = 40
EOF

started=
for _ in 1 2 3 4 5 6; do
  port=$((20000 + RANDOM % 12768))  # below the kernel's ephemeral ports
  (exec 3<>"/dev/tcp/127.0.0.1/$port") 2>/dev/null && continue
  if as_server "$bindir/pg_ctl" start -D "$rundir/data" -l "$rundir/log" -w -t 60 \
      -o "-p $port" >/dev/null 2>&1; then
    started=1
    break
  fi
done
[[ -n $started ]] || die "the PostgreSQL server did not start"
PGCONNECT_TIMEOUT=10 "$bindir/psql" -X -q -h 127.0.0.1 -p "$port" -U vexil -d postgres \
  -c 'SELECT 1' >/dev/null 2>&1 || die "the server does not answer on 127.0.0.1:$port"
printf 'host=127.0.0.1\nport=%s\nuser=vexil\nbindir=%s\nrundir=%s\n' \
  "$port" "$bindir" "$rundir" >"$env_file"
echo "PostgreSQL test server running on 127.0.0.1:$port (cluster $rundir/data)"
