#!/usr/bin/env bash
# Starts or stops a private PostgreSQL server for the database tests.
#
# Usage: pg_server.sh start|stop DIR
#
# start: creates a new cluster, trust authentication for 127.0.0.1 and the
#   unix socket only, listening on 127.0.0.1 only, on a free port chosen at
#   random from 20000 to 60000, and writes DIR/env with the settings that
#   clients need, one NAME=VALUE a line:
#     host=127.0.0.1  port=N  user=vexil  bindir=<server binaries>
#     rundir=<directory holding data/, the socket and the log>
#     datadir=<the cluster>
#   The cluster lives in DIR/data when the server's user can reach DIR and
#   the socket path fits; otherwise in a new directory under /tmp.
#   As root the server runs as the user "postgres", since PostgreSQL refuses
#   to run as root.
# stop: stops the server of DIR (pg_ctl stop -m fast) and removes the cluster
#   and DIR/env. Stopping when nothing runs is not an error.
#
# Exit status: 0 done, 1 failure, 77 skipped because the PostgreSQL server
# binaries are not installed (a failure instead when VEXIL_REQUIRE_ALL=1, so
# that a CI run cannot pass by skipping).
set -uo pipefail

readonly db_user=vexil
readonly start_attempts=6

fail() {
  echo "FAIL: $*"
  exit 1
}

usage() {
  fail "usage: $0 start|stop DIR"
}

[[ $# -eq 2 ]] || usage
action=$1
dir=$2
[[ -n "$dir" ]] || usage
case "$action" in start | stop) ;; *) usage ;; esac
mkdir -p "$dir" || fail "cannot create $dir"
dir=$(cd "$dir" && pwd -P) || fail "cannot enter $dir"
env_file=$dir/env

# The directory of initdb and pg_ctl: VEXIL_PG_BINDIR when set, else the
# newest /usr/lib/postgresql/*/bin, else whatever PATH has.
find_bindir() {
  if [[ -n "${VEXIL_PG_BINDIR:-}" ]]; then
    [[ -x "$VEXIL_PG_BINDIR/pg_ctl" ]] && echo "$VEXIL_PG_BINDIR"
    return
  fi
  local candidate
  candidate=$(ls -d /usr/lib/postgresql/*/bin 2>/dev/null | sort -V | tail -n 1)
  if [[ -n "$candidate" && -x "$candidate/initdb" && -x "$candidate/pg_ctl" ]]; then
    echo "$candidate"
    return
  fi
  candidate=$(command -v pg_ctl 2>/dev/null) || return
  candidate=$(dirname "$candidate")
  [[ -x "$candidate/initdb" ]] && echo "$candidate"
}

# Runs a command as the server's user, from / so that a working directory
# the user cannot enter does not matter.
as_server_user() {
  if [[ $(id -u) -eq 0 ]]; then
    (cd / && runuser -u postgres -- "$@")
  else
    (cd / && "$@")
  fi
}

# Reads NAME from the env file.
env_value() {
  sed -n "s/^$1=//p" "$env_file" 2>/dev/null | head -n 1
}

stop_server() {
  local bindir datadir rundir pid
  bindir=$(env_value bindir)
  datadir=$(env_value datadir)
  rundir=$(env_value rundir)
  [[ -n "$datadir" ]] || datadir=$dir/data
  [[ -n "$rundir" ]] || rundir=$dir
  [[ -n "$bindir" ]] || bindir=$(find_bindir)
  if [[ -f "$datadir/postmaster.pid" ]]; then
    pid=$(head -n 1 "$datadir/postmaster.pid")
    if [[ -n "$bindir" ]]; then
      as_server_user "$bindir/pg_ctl" stop -D "$datadir" -m fast -w -t 30 >/dev/null 2>&1
    fi
    # The server this script started must not outlive the tests.
    if [[ "$pid" =~ ^[0-9]+$ ]] && kill -0 "$pid" 2>/dev/null; then
      kill -9 "$pid" 2>/dev/null
      for _ in $(seq 50); do
        kill -0 "$pid" 2>/dev/null || break
        sleep 0.1
      done
    fi
  fi
  rm -f "$env_file"
  rm -rf "$datadir"
  [[ "$rundir" != "$dir" ]] && rm -rf "$rundir"
  rm -f "$dir/server.log"
  return 0
}

if [[ "$action" == stop ]]; then
  stop_server
  echo "PostgreSQL test server stopped"
  exit 0
fi

# --- start ---------------------------------------------------------------------

bindir=$(find_bindir)
if [[ -z "$bindir" ]]; then
  if [[ "${VEXIL_REQUIRE_ALL:-}" == 1 ]]; then
    fail "the PostgreSQL server binaries are not installed (VEXIL_REQUIRE_ALL=1 does not allow skipping)"
  fi
  echo "SKIP: the PostgreSQL server binaries are not installed"
  exit 77
fi
if [[ $(id -u) -eq 0 ]]; then
  getent passwd postgres >/dev/null || fail "running as root needs the user postgres"
fi

# A server left behind by an interrupted run goes first.
stop_server

# Where the cluster and the socket go. The socket path must stay below the
# 107-byte limit of unix socket names.
rundir=$dir
if [[ $(id -u) -eq 0 ]]; then
  chown postgres: "$dir" 2>/dev/null
fi
if [[ ${#dir} -gt 80 ]] || ! as_server_user test -w "$dir" -a -x "$dir"; then
  rundir=$(mktemp -d /tmp/vexil-pg.XXXXXX) || fail "mktemp failed"
  [[ $(id -u) -eq 0 ]] && chown postgres: "$rundir"
fi
datadir=$rundir/data
log=$rundir/server.log

if ! as_server_user "$bindir/initdb" -D "$datadir" -U "$db_user" -A trust -E UTF8 \
      --locale=C -N >"$dir/initdb.log" 2>&1; then
  cat "$dir/initdb.log"
  [[ "$rundir" != "$dir" ]] && rm -rf "$rundir"
  rm -rf "$dir/data"
  fail "initdb failed"
fi
rm -f "$dir/initdb.log"

# Trust, but only on the socket and on 127.0.0.1.
printf '%s\n' \
  'local all all trust' \
  'host all all 127.0.0.1/32 trust' >"$datadir/pg_hba.conf"
# Durability is of no use to throw-away test databases; speed is.
cat >>"$datadir/postgresql.conf" <<EOF
listen_addresses = '127.0.0.1'
unix_socket_directories = '$rundir'
fsync = off
synchronous_commit = off
full_page_writes = off
shared_buffers = 16MB
max_connections = 40
logging_collector = off
EOF

port_in_use() {
  (exec 3<>"/dev/tcp/127.0.0.1/$1") 2>/dev/null
}

started=0
for _ in $(seq "$start_attempts"); do
  port=$((20000 + (RANDOM * 32768 + RANDOM) % 40001))
  port_in_use "$port" && continue
  [[ -e "$rundir/.s.PGSQL.$port" ]] && continue
  if as_server_user "$bindir/pg_ctl" start -D "$datadir" -l "$log" -w -t 60 \
        -o "-p $port" >/dev/null 2>&1; then
    started=1
    break
  fi
  # Another process may have taken the port meanwhile; anything else is
  # reported below when the attempts are used up.
  as_server_user "$bindir/pg_ctl" stop -D "$datadir" -m immediate >/dev/null 2>&1
done
if [[ $started -ne 1 ]]; then
  [[ -f "$log" ]] && cat "$log"
  printf 'datadir=%s\nrundir=%s\nbindir=%s\n' "$datadir" "$rundir" "$bindir" >"$env_file"
  stop_server
  fail "the PostgreSQL server did not start"
fi

printf 'host=127.0.0.1\nport=%s\nuser=%s\nbindir=%s\nrundir=%s\ndatadir=%s\n' \
  "$port" "$db_user" "$bindir" "$rundir" "$datadir" >"$env_file.new"

# The server must answer on its TCP port before the tests begin.
if ! PGCONNECT_TIMEOUT=10 "$bindir/psql" -X -q -h 127.0.0.1 -p "$port" -U "$db_user" \
      -d postgres -c 'SELECT 1' >/dev/null 2>&1; then
  mv "$env_file.new" "$env_file"
  [[ -f "$log" ]] && cat "$log"
  stop_server
  fail "the PostgreSQL server does not answer on 127.0.0.1:$port"
fi
mv "$env_file.new" "$env_file"
echo "PostgreSQL test server running on 127.0.0.1:$port (cluster $datadir)"
exit 0
