# shellcheck shell=bash
# Sourced by the deploy/ tests. Each test takes a file of deploy/ as a site
# admin would, puts the test's own paths and a free loopback port in place of
# the file's paths, starts the servers in a temporary folder and asks for a
# page of a locked site through them.
#
# Exit status of a test: 0 pass, 1 fail, 77 a tool missing (1 instead when
# VEXIL_REQUIRE_ALL=1).
set -uo pipefail
PATH=$PATH:/usr/sbin:/sbin

# shellcheck source=../tools.sh
source "$(dirname "${BASH_SOURCE[0]}")/../tools.sh"

# new_work NAME: $work, a new folder (its logs in $work/logs), removed on
# exit when the test passed.
new_work() {
  work=$(mktemp -d "${TMPDIR:-/tmp}/vexil-$1.XXXXXX") || fail "mktemp failed"
  # A web server that drops root for its workers must reach these.
  chmod 755 "$work"
  pids=() passed=0 failures=0 count=0
  trap on_exit EXIT
  mkdir -p "$work/logs" || fail "mkdir failed"
}

# start_work NAME VEXIL SOURCE_DIR: new_work, with the site's templates and
# the program for CGI runs; $deploy, the deploy/ folder.
start_work() {
  [[ -x $2 && -d $3/deploy ]] || fail "usage: $0 <vexil binary> <source folder>"
  vexil=$(realpath "$2")
  deploy=$(realpath "$3/deploy")
  new_work "$1"
  mkdir -p "$work/templates" "$work/cgi-bin" || fail "mkdir failed"
  install "$vexil" "$work/cgi-bin/vexil" || fail "cannot copy $vexil"
  printf '<p>Hello from the deployed site</p>\n' >"$work/templates/page.htm"
  printf '$script_name$' >"$work/templates/action.htm"
  chmod -R a+rX "$work"
}

# start PROGRAM ARGS...: runs it in the background in a process group of its
# own, which on_exit ends.
start() {
  setsid "$@" >>"$work/logs/$(basename "$1").out" 2>&1 &
  pids+=($!)
}

stop_all() {
  local pid
  for pid in "${pids[@]}"; do kill -TERM -- "-$pid" 2>/dev/null; done
  for pid in "${pids[@]}"; do
    for _ in $(seq 50); do kill -0 "$pid" 2>/dev/null || break; sleep 0.1; done
    kill -KILL -- "-$pid" 2>/dev/null
    wait "$pid" 2>/dev/null
  done
  pids=()
}

# shellcheck disable=SC2317  # runs as the EXIT trap
on_exit() {
  stop_all
  if [[ $passed == 1 ]]; then rm -rf "$work"; return; fi
  local log
  for log in "$work"/logs/*; do
    [[ -s $log ]] && { echo "----- $(basename "$log")"; cat "$log"; }
  done
  echo "Temporary folder kept: $work"
}

# free_port: a port of 127.0.0.1 nothing listens on, in $port.
free_port() {
  for _ in $(seq 20); do
    port=$((20000 + RANDOM % 12768))  # below the kernel's ephemeral ports
    (exec 3<>"/dev/tcp/127.0.0.1/$port") 2>/dev/null || return 0
  done
  fail "no free port found"
}

# site_file FILE OUT: FILE of deploy/ with the test's paths and $port in
# place of the ones a site admin changes; none of those may be left.
site_file() {
  sed -e "s|listen 80;|listen 127.0.0.1:$port;|" \
      -e "s|<VirtualHost \*:80>|<VirtualHost 127.0.0.1:$port>|" \
      -e "s|/run/vexil/vexil.sock|$work/vexil.sock|g" \
      -e "s|/run/fcgiwrap.socket|$work/fcgiwrap.sock|g" \
      -e "s|/usr/lib/cgi-bin|$work/cgi-bin|g" \
      -e "s|/srv/site/templates|$work/templates|g" \
      "$deploy/$1" >"$2" || fail "cannot write $2"
  if grep -v '^[[:space:]]*#' "$2" | grep -nE '/run/vexil|/run/fcgiwrap|/srv/site|/usr/lib/cgi-bin|[: ]80[;>]'; then
    fail "$1: the lines above keep a path or port the test did not replace"
  fi
}

# start_vexil: vexil --fastcgi on $work/vexil.sock, as vexil.service runs it.
start_vexil() {
  start "$vexil" --fastcgi "$work/vexil.sock" --workers 2
  for _ in $(seq 100); do [[ -S $work/vexil.sock ]] && break; sleep 0.1; done
  [[ -S $work/vexil.sock ]] || fail "vexil --fastcgi made no socket"
  chmod 666 "$work/vexil.sock"
}

# wait_http: waits until something answers HTTP on $port; status 1 when
# the server last started has ended instead (it could not take the port).
wait_http() {
  local code server=${pids[-1]}
  for _ in $(seq 100); do
    code=$(curl -q -s --noproxy '*' --max-time 1 -o /dev/null -w '%{http_code}' "http://127.0.0.1:$port/")
    [[ $code != 000 ]] && return 0
    kill -0 "$server" 2>/dev/null || { wait "$server" 2>/dev/null; unset 'pids[-1]'; return 1; }
    sleep 0.1
  done
  fail "nothing answers on 127.0.0.1:$port"
}

# serve RUN_FUNCTION SITE_FILE: RUN_FUNCTION starts the web server on a free
# port and ends with wait_http; another port when something took that one
# between the choice and the server's bind (tests run side by side).
serve() {
  for _ in 1 2 3 4 5; do
    "$1" "$2" && return 0
    echo "the web server did not start on port $port; another port"
  done
  fail "the web server did not start on a free port"
}

# run_nginx SITE_FILE: nginx with a main configuration of the test's own
# that includes the site file, and only that.
run_nginx() {
  local conf=$work/nginx/$1
  mkdir -p "$work/nginx/temp"
  cp /etc/nginx/fastcgi_params "$work/nginx/" || fail "no /etc/nginx/fastcgi_params"
  free_port
  site_file "$1" "$conf"
  cat >"$work/nginx/nginx.conf" <<CONF
user root;
worker_processes 1;
pid $work/nginx/nginx.pid;
error_log $work/logs/nginx-error.log;
events { worker_connections 64; }
http {
  access_log off;
  client_body_temp_path $work/nginx/temp;
  fastcgi_temp_path $work/nginx/temp;
  proxy_temp_path $work/nginx/temp;
  uwsgi_temp_path $work/nginx/temp;
  scgi_temp_path $work/nginx/temp;
  include $conf;
}
CONF
  start nginx -p "$work/nginx" -c "$work/nginx/nginx.conf" -g 'daemon off;'
  wait_http
}

not_found_body='<HTML><HEAD><TITLE>Not Found</TITLE></HEAD><BODY><H3>Not Found</H3><P>There is no such page on this site.</P></BODY></HTML>'

# check NAME STATUS BODY CURL_ARGS...: the answer has exactly that status,
# one Content-Type ${content_type:-text/html; charset=utf-8} (none for a
# redirect), no Set-Cookie line, and exactly that body (a line feed added);
# for BODY "-" any body and type (an answer the web server may give itself).
# No secret ever shows. The answer stays in $out.head and $out.body.
check() {
  local name=$1 want_status=$2 want_body=$3 status types problems=()
  shift 3
  count=$((count + 1))
  mkdir -p "$work/answers"
  out=$work/answers/$count
  status=$(curl -q -sS --noproxy '*' --max-time 10 -D "$out.head" -o "$out.body" -w '%{http_code}' "$@")
  types=$(tr -d '\r' <"$out.head" | grep -i '^content-type:' | sed -E 's/^[^:]*:[[:space:]]*//; s/[[:space:]]+$//')
  [[ $status == "$want_status" ]] || problems+=("status '$status', expected '$want_status'")
  if [[ $want_status == 302 ]]; then
    [[ -z $types ]] || problems+=("a redirect with Content-Type '$types'")
  elif [[ $want_body != - && $types != "${content_type:-text/html; charset=utf-8}" ]]; then
    problems+=("Content-Type '${types//$'\n'/ | }'")
  fi
  tr -d '\r' <"$out.head" | grep -qi '^set-cookie:' && problems+=("a Set-Cookie header")
  [[ $want_body != - ]] && ! printf '%s\n' "$want_body" | cmp -s - "$out.body" && problems+=("body differs")
  grep -q 'SECRET' "$out.body" && problems+=("a secret shows")
  [[ ${#problems[@]} -eq 0 ]] && { echo "ok [$name]"; return; }
  echo "FAIL [$name] $*: ${problems[*]}"
  echo "--- expected body"; printf '%s\n' "$want_body" | cat -A
  echo "--- actual body"; head -c 2000 "$out.body" | cat -A
  echo "--- headers"; tr -d '\r' <"$out.head"
  failures=$((failures + 1))
}

# check_site WAY: the good page and a missing one through $port.
check_site() {
  check "$1 page" 200 '<p>Hello from the deployed site</p>' "http://127.0.0.1:$port/pages/page.htm"
  check "$1 missing page" 404 "$not_found_body" "http://127.0.0.1:$port/pages/nothing.htm"
  # Forms (an edit form, a search) post back to $script_name$: the site
  # must take a POST there too, not redirect it (a browser would repeat a
  # redirected POST as a GET without its fields).
  local action
  action=$(curl -q -s --noproxy '*' --max-time 10 "http://127.0.0.1:$port/pages/action.htm")
  check "$1 form posted to $action" 200 '<p>Hello from the deployed site</p>' \
    --data input=page.htm "http://127.0.0.1:$port$action"
}

finish() {
  stop_all
  [[ $failures -eq 0 ]] || fail "$failures of $count check(s) failed"
  passed=1
  echo "PASS: $count $1"
}
