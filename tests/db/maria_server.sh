#!/usr/bin/env bash
# Starts or stops a private MariaDB server for the database tests.
#
# Usage: maria_server.sh start|stop DIR
# start: a new data directory in a new directory under /tmp (short socket
#   path), the server listening on 127.0.0.1 only at a free random port from
#   20000 to 32767 and on a socket in that directory, without the grant
#   tables (any user name connects, with every right: the server answers
#   only this machine's loopback and lives as long as the test run); writes
#   DIR/env (host=, port=, user=, client=, rundir= lines). Its sql_mode is
#   the server's default, so a backslash in a quoted literal is an escape.
# stop: stops the server that DIR/env names and removes its directory;
#   nothing running is not an error.
# Exit status: 0 done, 1 failure, 77 no server binaries (1 instead when
# VEXIL_REQUIRE_ALL=1).
set -uo pipefail

fail() { echo "FAIL: $*"; exit 1; }

[[ $# -eq 2 && ($1 == start || $1 == stop) ]] || fail "usage: $0 start|stop DIR"
mkdir -p "$2" || fail "cannot create $2"
env_file=$2/env

stop_server() {
  [[ -f $env_file ]] || return 0
  local rundir pid
  rundir=$(sed -n 's/^rundir=//p' "$env_file")
  if [[ -f $rundir/pid ]] && pid=$(head -n 1 "$rundir/pid") && [[ $pid =~ ^[0-9]+$ ]]; then
    kill "$pid" 2>/dev/null
    for _ in $(seq 150); do kill -0 "$pid" 2>/dev/null || break; sleep 0.2; done
    kill -9 "$pid" 2>/dev/null
  fi
  [[ $rundir == /tmp/vexil-maria.* ]] && rm -rf "$rundir"
  rm -f "$env_file"
}

if [[ $1 == stop ]]; then
  stop_server
  echo "MariaDB test server stopped"
  exit 0
fi

server=$(command -v mariadbd || echo /usr/sbin/mariadbd)
install_db=$(command -v mariadb-install-db || command -v mysql_install_db)
client=$(command -v mariadb || command -v mysql)
if [[ ! -x $server || -z $install_db || -z $client ]]; then
  [[ ${VEXIL_REQUIRE_ALL:-} == 1 ]] && fail "no MariaDB server binaries (VEXIL_REQUIRE_ALL=1)"
  echo "SKIP: no MariaDB server binaries"
  exit 77
fi

stop_server  # one left behind by an interrupted run
rundir=$(mktemp -d /tmp/vexil-maria.XXXXXX) || fail "mktemp failed"
printf 'rundir=%s\n' "$rundir" >"$env_file"  # for stop_server

die() {
  cat "$rundir/install.log" "$rundir/log.err" 2>/dev/null
  stop_server
  fail "$*"
}
trap 'die "interrupted"' INT TERM HUP

# The server runs as the user that runs the tests (root included: it is
# told so). Durability is of no use to throw-away test databases; speed is.
options=(--no-defaults --user="$(id -un)" --datadir="$rundir/data" --skip-name-resolve
  --innodb-buffer-pool-size=16M --innodb-log-file-size=8M --innodb-flush-log-at-trx-commit=0
  --innodb-doublewrite=0 --character-set-server=utf8mb4 --collation-server=utf8mb4_bin)
"$install_db" "${options[@]}" --skip-test-db --auth-root-authentication-method=normal \
  >"$rundir/install.log" 2>&1 || die "$(basename "$install_db") failed"

started=
for _ in 1 2 3 4 5 6; do
  port=$((20000 + RANDOM % 12768))  # below the kernel's ephemeral ports
  (exec 3<>"/dev/tcp/127.0.0.1/$port") 2>/dev/null && continue
  rm -f "$rundir/pid"
  "$server" "${options[@]}" --skip-grant-tables --bind-address=127.0.0.1 --port="$port" \
    --socket="$rundir/sock" --pid-file="$rundir/pid" --log-error="$rundir/log" \
    --max-connections=60 </dev/null >/dev/null 2>&1 &
  pid=$!
  echo "$pid" >"$rundir/pid"  # the server writes the same number (it does not fork)
  # Up when the client gets an answer over TCP; a server that ended (the
  # port was taken meanwhile) is tried again on another port.
  for _ in $(seq 300); do
    "$client" --no-defaults --connect-timeout=5 -h 127.0.0.1 -P "$port" -u vexil \
      -e 'SELECT 1' >/dev/null 2>&1 && { started=1; break; }
    kill -0 "$pid" 2>/dev/null || break
    sleep 0.2
  done
  [[ -n $started ]] && break
  kill -9 "$pid" 2>/dev/null
  wait "$pid" 2>/dev/null
done
[[ -n $started ]] || die "the MariaDB server did not start"
trap - INT TERM HUP
printf 'host=127.0.0.1\nport=%s\nuser=vexil\nclient=%s\nrundir=%s\n' \
  "$port" "$client" "$rundir" >"$env_file"
echo "MariaDB test server running on 127.0.0.1:$port (data $rundir/data)"
