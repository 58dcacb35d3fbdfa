#!/usr/bin/env bash
# vexil --fastcgi on a Unix socket in a temporary folder: a worker killed in
# the middle of a request is replaced and the next request is answered; on
# SIGTERM the master lets the worker finish the request in hand, then ends
# and removes its socket. Started with a listening socket as standard input
# (cgi-fcgi -start), vexil serves on it as one worker. Without a loadable
# libfcgi it says so and ends at once.
#
# Usage: worker_restart.sh <vexil binary>
# shellcheck source=common.sh
source "$(dirname "$0")/common.sh"
need cgi-fcgi
make_work fcgi-restart "$@"
lone=
# shellcheck disable=SC2317  # called by on_exit
cleanup() {
  [[ -n $lone ]] && kill "$lone" 2>/dev/null
  [[ -s $work/sleeper ]] && kill "$(cat "$work/sleeper")" 2>/dev/null
}

printf 'before <!--EXEC sh ./slow.sh--> after\n' >slow.htm
printf 'echo $$ >sleeper; exec sleep 60\n' >slow.sh
printf 'before <!--EXEC sh ./pause.sh--> after\n' >pause.htm
printf 'touch paused; sleep 2; echo finished\n' >pause.sh
printf '<p>ok $name$</p>\n' >ok.htm
printf '<!--EXEC . ./pid.sh-->\n' >pid.htm
printf 'echo "worker=$PPID"\n' >pid.sh

request() { fcgi REQUEST_METHOD=GET QUERY_STRING="$1" VEXIL_OPEN=1 VEXIL_ALLOW_EXEC=1; }
wait_for() {
  for _ in $(seq 100); do [[ -e $1 ]] && return 0; sleep 0.1; done
  fail "$2"
}
worker_of() { ps -o pid= --ppid "$1" | tr -d ' '; }

# libfcgi is loaded when the FastCGI mode starts: a library that cannot be
# loaded is named on standard error and the program ends with status 1.
mkdir broken && : >broken/libfcgi.so.0
LD_LIBRARY_PATH=$work/broken timeout 10 "$vexil" --fastcgi "$work/never.sock" 2>broken.err
code=$?
[[ $code -eq 1 ]] || fail "with a broken libfcgi the master ended with $code, not 1"
grep -q 'cannot load libfcgi.so.0' broken.err || fail "with a broken libfcgi: $(cat broken.err)"

start_worker
first=$(worker_of "$master")
[[ -n $first ]] || fail "no worker started"

# A worker killed in the middle of a request.
request 'input=slow.htm' >slow.out &
client=$!
wait_for sleeper "the slow request did not start"
kill -9 "$first"
SECONDS=0
wait "$client"
# The command the killed worker had started holds nothing of the request open.
((SECONDS < 10)) || fail "the cut request's client waited ${SECONDS}s for its answer to end"
answer=$(request 'input=ok.htm&name=again')
[[ $answer == *'<p>ok again</p>'* ]] || fail "the request after the kill got: $answer"
second=$(worker_of "$master")
[[ -n $second && $second != "$first" ]] || fail "the killed worker $first was not replaced (now: '$second')"
grep -q "worker $first ended by signal 9" master.err || fail "the master did not report the killed worker"
kill "$(cat sleeper)" 2>/dev/null
: >sleeper

# SIGTERM while a request is in hand: it is finished, then all end.
request 'input=pause.htm' >pause.out &
client=$!
wait_for paused "the paused request did not start"
kill -TERM "$master"
wait "$client" || fail "the request in hand failed when the master was stopped"
grep -q 'finished' pause.out && grep -q 'after' pause.out || fail "the request in hand was cut: $(cat pause.out)"
wait "$master"
code=$?
master=
[[ $code == 0 ]] || fail "the master ended with exit code $code"
[[ ! -e sock ]] || fail "the socket was left behind"
kill -0 "$second" 2>/dev/null && fail "worker $second still runs after the master ended"
: >master.err

# A listening socket as standard input: one worker serves on it.
(cd "$work" && cgi-fcgi -start -connect "$work/lone.sock" "$vexil") || fail "cgi-fcgi -start failed"
socket=$work/lone.sock
answer=$(request 'input=pid.htm')
lone=$(sed -n 's/^worker=\([0-9]*\)$/\1/p' <<<"$answer")
[[ -n $lone ]] || fail "the worker on standard input answered: $answer"
answer=$(request 'input=ok.htm&name=lone')
[[ $answer == *'<p>ok lone</p>'* ]] || fail "the worker on standard input answered: $answer"
kill -TERM "$lone"
for _ in $(seq 50); do kill -0 "$lone" 2>/dev/null || break; sleep 0.1; done
kill -0 "$lone" 2>/dev/null && fail "the worker on standard input did not end on SIGTERM"
lone=
echo "PASS: killed worker replaced, request in hand finished on SIGTERM, worker on standard input"
