#!/usr/bin/env bash
# Runs the vexil binary as a CGI program behind lighttpd, listening on a free
# port of 127.0.0.1 only, and checks three requests (exact status, type and body). Sourced by
# lighttpd_locked_test.sh for its functions.
#
# Usage: lighttpd_test.sh <vexil binary>
# Exit status: 0 pass, 1 fail, 77 lighttpd or curl missing (1 instead when
# VEXIL_REQUIRE_ALL=1).
set -uo pipefail
PATH=$PATH:/usr/sbin:/sbin

fail() { echo "FAIL: $*"; exit 1; }
failed() { echo "FAIL: $*"; failures=$((failures + 1)); }  # counts; goes on

stop_server() {
  [[ -n $pid ]] || return 0
  kill "$pid" 2>/dev/null
  for _ in $(seq 50); do kill -0 "$pid" 2>/dev/null || break; sleep 0.1; done
  kill -9 "$pid" 2>/dev/null
  wait "$pid" 2>/dev/null
  pid=
}

# shellcheck disable=SC2317  # runs as the EXIT trap
on_exit() {
  stop_server
  if [[ $passed == 1 ]]; then rm -rf "$work"; return; fi
  for log in error.log cgi-stderr.log server.out; do
    [[ -s $work/$log ]] && { echo "----- $log"; cat "$work/$log"; }
  done
  echo "Temporary directory kept: $work"
}

# A double-quoted lighttpd configuration string.
q() { local s=${1//\\/\\\\}; printf '"%s"' "${s//\"/\\\"}"; }

# make_work NAME BINARY: $work, a new folder, with the program in
# $docroot/cgi-bin; skips without lighttpd or curl.
make_work() {
  for tool in lighttpd curl; do
    if ! command -v "$tool" >/dev/null; then
      [[ ${VEXIL_REQUIRE_ALL:-} == 1 ]] && fail "$tool is not installed (VEXIL_REQUIRE_ALL=1)"
      echo "SKIP: $tool is not installed"
      exit 77
    fi
  done
  [[ $# -eq 2 && -f $2 && -x $2 ]] || fail "usage: $0 <vexil binary>"
  work=$(mktemp -d "${TMPDIR:-/tmp}/vexil-$1.XXXXXX") || fail "mktemp failed"
  docroot=$work/htdocs pid= passed=0 failures=0 count=0
  install -D "$2" "$docroot/cgi-bin/vexil" || fail "cannot copy $2"
  trap on_exit EXIT
}

# start_site SETTING: lighttpd on a free port; the CGI program gets SETTING
# (a configuration entry) and the variables of ours the e2e runner passes on.
start_site() {
  local env_entries=("$1") name
  for name in PATH ASAN_OPTIONS UBSAN_OPTIONS LSAN_OPTIONS ODBCSYSINI ODBCINI $(compgen -e VEXIL_TEST_); do
    [[ -n ${!name+set} ]] && env_entries+=("$(q "$name") => $(q "${!name}")")
  done
  # A random free port; another try when lighttpd cannot take it.
  for _ in 1 2 3 4 5; do
    port=$((20000 + RANDOM % 12768))  # below the kernel's ephemeral ports
    (exec 3<>"/dev/tcp/127.0.0.1/$port") 2>/dev/null && continue
    cat >"$work/lighttpd.conf" <<CONF
server.modules = ( "mod_setenv", "mod_cgi" )
server.document-root = $(q "$docroot")
server.bind = "127.0.0.1"
server.port = $port
server.errorlog = $(q "$work/error.log")
server.breakagelog = $(q "$work/cgi-stderr.log")
server.upload-dirs = ( $(q "$work") )
setenv.add-environment = ( $(IFS=,; echo "${env_entries[*]}") )
\$HTTP["url"] =~ "^/cgi-bin/" { cgi.assign = ( "" => "" ) }
CONF
    lighttpd -D -f "$work/lighttpd.conf" >"$work/server.out" 2>&1 &
    pid=$!
    for _ in $(seq 50); do
      kill -0 "$pid" 2>/dev/null || break
      code=$(curl -q -s --noproxy '*' --max-time 1 -o /dev/null -w '%{http_code}' "http://127.0.0.1:$port/")
      [[ $code != 000 ]] && { echo "lighttpd is listening on 127.0.0.1:$port"; base="http://127.0.0.1:$port/cgi-bin/vexil"; return; }
      sleep 0.1
    done
    stop_server
  done
  fail "lighttpd did not start on a free port"
}

# curl_answer CURL_ARGS...: the next answer's status; its head and body in
# $out.head and $out.body, its Content-Type lines in $types.
curl_answer() {
  count=$((count + 1))
  out=$work/answer.$count
  status=$(curl -q -sS --noproxy '*' --max-time 10 -D "$out.head" -o "$out.body" -w '%{http_code}' "$@")
  types=$(tr -d '\r' <"$out.head" | grep -i '^content-type:' | sed -E 's/^[^:]*:[[:space:]]*//; s/[[:space:]]+$//')
}

# check NAME STATUS BODY CURL_ARGS...: the answer has exactly that status,
# one Content-Type $content_type (none for a redirect), no
# Set-Cookie line, and exactly that body (a trailing line feed added); for
# BODY "-" any body and type (an answer the web server may give itself).
# No secret ever shows.
check() {
  local name=$1 want_status=$2 want_body=$3 problems=()
  shift 3
  curl_answer "$@"
  [[ $status == "$want_status" ]] || problems+=("status '$status', expected '$want_status'")
  if [[ $want_status == 302 ]]; then
    [[ -z $types ]] || problems+=("a redirect with Content-Type '$types'")
  elif [[ $want_body == - ]]; then
    :  # the web server may answer itself
  else
    [[ $types == "$content_type" ]] || problems+=("Content-Type '${types//$'\n'/ | }'")
  fi
  tr -d '\r' <"$out.head" | grep -qi '^set-cookie:' && problems+=("a Set-Cookie header")
  [[ $want_body != - ]] && ! printf '%s\n' "$want_body" | cmp -s - "$out.body" && problems+=("body differs")
  grep -q 'SECRET' "$out.body" && problems+=("a secret shows")
  [[ ${#problems[@]} -eq 0 ]] && { echo "ok [$name]"; return; }
  echo "FAIL [$name]: ${problems[*]}"
  echo "--- expected body"; printf '%s\n' "$want_body" | cat -A
  echo "--- actual body"; head -c 2000 "$out.body" | cat -A
  echo "--- headers"; tr -d '\r' <"$out.head"
  failures=$((failures + 1))
}

# finish_site WHAT: stops the server; anything the CGI program wrote to
# stderr (a sanitizer report, say) fails, as does any failed check.
finish_site() {
  stop_server
  [[ -s $work/cgi-stderr.log ]] && failed "the CGI program wrote to standard error"
  [[ $failures -eq 0 ]] || fail "$failures of $count check(s) failed"
  passed=1
  echo "PASS: $count $1"
}

[[ ${BASH_SOURCE[0]} == "$0" ]] || return 0

make_work cgi "$@"
start_site '"VEXIL_OPEN" => "1"'
# An ordinary comment (a blank after "<!--") is template text, kept as it is.
printf '<html><body>Hello <!-- a plain comment -->\n</body></html>\n' >"$docroot/page.htm"

content_type=text/html
page=$(<"$docroot/page.htm")
# The template named by PATH_INFO, by input= in a GET query and in a POST body.
check path-info 200 "$page" "$base/page.htm"
check get-input 200 "$page" "$base?input=$docroot/page.htm"
check post-input 200 "$page" -H 'Content-Type: application/x-www-form-urlencoded' \
  --data-binary "input=$docroot/page.htm&x=1" "$base"
finish_site "CGI requests answered as expected"
