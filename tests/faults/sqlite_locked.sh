#!/usr/bin/env bash
# Another process holds an exclusive lock on the SQLite database (the
# sqlite3 shell inside BEGIN EXCLUSIVE) while web runs with
# VEXIL_TIME_LIMIT=2 read it. Each must answer within about the limit with
# a message that says why:
#   - through a FastCGI worker whose connection was made before the lock:
#     the statement meets the lock;
#   - as a CGI program: the connect meets the lock (the driver reads the
#     schema while connecting, and would wait its own busy timeout).
# After the lock is released the worker's connection serves again.
#
# Usage: sqlite_locked.sh <vexil binary>
# shellcheck source=../fastcgi/common.sh
source "$(dirname "$0")/../fastcgi/common.sh"
need cgi-fcgi sqlite3
make_work locked "$@"
limit=2
holder=
# shellcheck disable=SC2317  # called by on_exit
cleanup() { [[ -n $holder ]] && kill "$holder" 2>/dev/null && wait "$holder" 2>/dev/null; }
sqlite3 data.db 'CREATE TABLE t (a INTEGER); INSERT INTO t VALUES (1);' || fail "cannot make the database"
printf '<!--DATABASE DRIVER=SQLite3;Database=%s/data.db-->\n<!--SQL SELECT a FROM t-->\n[$sql_status$] [$a$]\n' \
  "$work" >page.htm
header=$'Content-Type: text/html; charset=utf-8\n\n'
error_start='<HTML><HEAD><TITLE>Vexil Error</TITLE> </HEAD><BODY BGCOLOR="#FFFFFF"><P><B>Vexil Error:</B> '
failures=0

# run fastcgi|cgi: the page as a locked web run, its answer in $answer and
# its duration in milliseconds in $took.
run() {
  local way=$1 start
  local params=(REQUEST_METHOD=GET QUERY_STRING=input=page.htm VEXIL_TEMPLATE_ROOT="$work" VEXIL_TIME_LIMIT=$limit)
  start=$(date +%s%N)
  if [[ $way == fastcgi ]]; then
    answer=$(fcgi "${params[@]}" 2>&1)
  else
    answer=$(env -i PATH="$PATH" ODBCSYSINI="${ODBCSYSINI:-}" ODBCINI="${ODBCINI:-}" "${params[@]}" timeout 60 "$vexil" 2>&1)
  fi
  took=$((($(date +%s%N) - start) / 1000000))
}

# check NAME EXPECTED [MAX_MS]: $answer is exactly EXPECTED, in MAX_MS.
check() {
  local problems=()
  [[ $answer == "$2" ]] || problems+=("answer differs")
  [[ -z ${3:-} || $took -le $3 ]] || problems+=("took $took ms, more than $3")
  if [[ ${#problems[@]} -eq 0 ]]; then echo "ok [$1] ($took ms)"; return; fi
  echo "FAIL [$1]: ${problems[*]}"
  echo "--- expected"; printf '%s\n' "$2"; echo "--- actual"; printf '%s\n' "$answer"
  failures=$((failures + 1))
}

start_worker
run fastcgi
check "before the lock" "$header[0] [1]"

mkfifo hold || fail "mkfifo failed"
sqlite3 data.db <hold >holder.out 2>&1 &
holder=$!
exec 3>hold
echo "BEGIN EXCLUSIVE; INSERT INTO t VALUES (2); SELECT 'locked';" >&3
for _ in $(seq 50); do grep -q locked holder.out && break; sleep 0.1; done
grep -q locked holder.out || fail "the sqlite3 shell did not take the lock: $(cat holder.out)"

max=$((limit * 1000 + 1000))
run fastcgi
check "the statement meets the lock" \
  "$header$error_start"'The page&#39;s time limit was reached; the statement was cancelled.<BR>[Error in file page.htm line 2]<P>
[-1] [$a$]' $max
run cgi
check "the connect meets the lock" \
  "$header$error_start"'The page&#39;s time limit was reached; the statement was not run.<BR>[Error in file page.htm line 2]<P>
[-1] [$a$]' $max

exec 3>&-
wait "$holder"
holder=
run fastcgi
check "after the lock" "$header[0] [1]"
run cgi
check "after the lock, as CGI" "$header[0] [1]"
stop_worker
[[ $failures -eq 0 ]] || fail "$failures check(s) failed"
echo "PASS: a locked SQLite database ends a web run within its time limit, with a message"
