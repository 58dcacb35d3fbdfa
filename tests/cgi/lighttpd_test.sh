#!/usr/bin/env bash
# Runs the vexil binary as a CGI program behind lighttpd and checks the
# responses to a few requests.
#
# Usage: lighttpd_test.sh <path of the vexil binary>
#
# The server listens on a free port of 127.0.0.1 only, with its own
# configuration, document root and logs in a temporary directory. Every
# request goes to 127.0.0.1 with proxies disabled and a time limit.
#
# Exit status: 0 pass, 1 fail, 77 skipped because lighttpd or curl is not
# installed (a failure instead when VEXIL_REQUIRE_ALL=1, so that a CI run
# cannot pass by skipping).
set -uo pipefail

PATH="$PATH:/usr/sbin:/sbin"
unset http_proxy https_proxy HTTP_PROXY HTTPS_PROXY all_proxy ALL_PROXY no_proxy NO_PROXY

fail() {
  echo "FAIL: $*"
  exit 1
}

missing_tool() {
  if [[ "${VEXIL_REQUIRE_ALL:-}" == 1 ]]; then
    fail "$1 is not installed (VEXIL_REQUIRE_ALL=1 does not allow skipping)"
  fi
  echo "SKIP: $1 is not installed"
  exit 77
}

[[ $# -eq 1 ]] || fail "usage: $0 <vexil binary>"
binary=$1
[[ -f "$binary" && -x "$binary" ]] || fail "not an executable file: $binary"
command -v lighttpd >/dev/null 2>&1 || missing_tool lighttpd
command -v curl >/dev/null 2>&1 || missing_tool curl

work=$(mktemp -d "${TMPDIR:-/tmp}/vexil-cgi.XXXXXX") || fail "mktemp failed"
docroot=$work/htdocs
mkdir -p "$docroot/cgi-bin"
cp "$binary" "$docroot/cgi-bin/vexil" || fail "cannot copy $binary"
chmod 755 "$docroot/cgi-bin/vexil"

server_pid=
passed=0

stop_server() {
  if [[ -n "$server_pid" ]] && kill -0 "$server_pid" 2>/dev/null; then
    kill "$server_pid" 2>/dev/null
    for _ in $(seq 50); do
      kill -0 "$server_pid" 2>/dev/null || break
      sleep 0.1
    done
    kill -9 "$server_pid" 2>/dev/null
    wait "$server_pid" 2>/dev/null
  fi
  server_pid=
}

# shellcheck disable=SC2317  # called through the EXIT trap
on_exit() {
  stop_server
  if [[ $passed -eq 1 ]]; then
    rm -rf "$work"
  else
    for log in error.log cgi-stderr.log server.out; do
      if [[ -s "$work/$log" ]]; then
        echo "----- $log -----"
        cat "$work/$log"
        echo "----- end of $log -----"
      fi
    done
    echo "Temporary directory kept: $work"
  fi
}
trap on_exit EXIT

# Text for a double-quoted lighttpd configuration string.
conf_quote() {
  local s=${1//\\/\\\\}
  printf '"%s"' "${s//\"/\\\"}"
}

# The CGI program gets only the variables the server sets, plus these from
# this script's environment (sanitizer options, ODBC configuration, test
# settings), the same set the end-to-end runner passes through.
cgi_environment() {
  local entries=() name
  for name in PATH ASAN_OPTIONS UBSAN_OPTIONS LSAN_OPTIONS ODBCSYSINI ODBCINI \
              $(compgen -e VEXIL_TEST_); do
    if [[ -n "${!name+set}" ]]; then
      entries+=("$(conf_quote "$name") => $(conf_quote "${!name}")")
    fi
  done
  local IFS=,
  echo "( ${entries[*]} )"
}

write_config() {
  local port=$1
  cat >"$work/lighttpd.conf" <<CONF
server.modules = ( "mod_setenv", "mod_cgi" )
server.document-root = $(conf_quote "$docroot")
server.bind = "127.0.0.1"
server.port = $port
server.errorlog = $(conf_quote "$work/error.log")
server.breakagelog = $(conf_quote "$work/cgi-stderr.log")
server.upload-dirs = ( $(conf_quote "$work") )
mimetype.assign = ( ".htm" => "text/html", ".html" => "text/html" )
setenv.add-environment = $(cgi_environment)
\$HTTP["url"] =~ "^/cgi-bin/" {
  cgi.assign = ( "" => "" )
}
CONF
}

port_in_use() {
  (exec 3<>"/dev/tcp/127.0.0.1/$1") 2>/dev/null
}

# HTTP status of GET / (000 while nothing answers).
probe() {
  curl -q -s --noproxy '*' --max-time 1 -o /dev/null -w '%{http_code}' \
    "http://127.0.0.1:$1/" 2>/dev/null
}

start_server() {
  local port code
  for _ in 1 2 3 4 5; do
    port=$((20000 + (RANDOM * 32768 + RANDOM) % 40001))
    if port_in_use "$port"; then
      continue
    fi
    write_config "$port"
    : >"$work/error.log"
    lighttpd -tt -f "$work/lighttpd.conf" >"$work/server.out" 2>&1 ||
      fail "lighttpd rejects the configuration: $(cat "$work/server.out")"
    lighttpd -D -f "$work/lighttpd.conf" >"$work/server.out" 2>&1 &
    server_pid=$!
    for _ in $(seq 50); do
      if ! kill -0 "$server_pid" 2>/dev/null; then
        break
      fi
      code=$(probe "$port")
      if [[ "$code" != 000 ]]; then
        PORT=$port
        return 0
      fi
      sleep 0.1
    done
    if kill -0 "$server_pid" 2>/dev/null; then
      fail "lighttpd did not answer on port $port within 5 s"
    fi
    wait "$server_pid" 2>/dev/null
    server_pid=
    if ! grep -qiE 'bind|address already in use' "$work/error.log" "$work/server.out"; then
      fail "lighttpd stopped at start-up"
    fi
    echo "port $port could not be bound, trying another"
  done
  fail "could not start lighttpd on a free port after 5 attempts"
}

# Shows a file's bytes with control characters visible.
show_bytes() {
  od -An -c -w32 "$1" | head -n 64
}

failures=0

# check_response LABEL EXPECTED_BODY_FILE CURL_ARGS...
# Sends one request and checks status 200, a single Content-type header of
# text/html and the exact body.
check_response() {
  local label=$1 expected=$2
  shift 2
  local out="$work/response-$label"
  local status
  status=$(curl -q -sS --noproxy '*' --max-time 10 -D "$out.headers" \
    -o "$out.body" -w '%{http_code}' "$@" 2>"$out.curl-err")
  local rc=$?
  if [[ $rc -ne 0 ]]; then
    echo "FAIL [$label]: curl exit code $rc: $(cat "$out.curl-err")"
    failures=$((failures + 1))
    return
  fi
  local ok=1
  if [[ "$status" != 200 ]]; then
    echo "FAIL [$label]: HTTP status $status, expected 200"
    ok=0
  fi
  local types
  types=$(tr -d '\r' <"$out.headers" | grep -i '^content-type:' |
          sed -E 's/^[^:]*:[[:space:]]*//; s/[[:space:]]+$//')
  if [[ "$types" != "text/html" ]]; then
    echo "FAIL [$label]: Content-type header value(s) '${types//$'\n'/' | '}', expected 'text/html'"
    ok=0
  fi
  if ! cmp -s "$expected" "$out.body"; then
    echo "FAIL [$label]: body differs: $(cmp "$expected" "$out.body" 2>&1)"
    echo "--- expected body ---"
    show_bytes "$expected"
    echo "--- actual body ---"
    show_bytes "$out.body"
    echo "--- end ---"
    ok=0
  fi
  if [[ $ok -eq 1 ]]; then
    echo "ok [$label]"
  else
    echo "--- response headers [$label] ---"
    tr -d '\r' <"$out.headers"
    failures=$((failures + 1))
  fi
}

# --- Templates and expected pages ----------------------------------------
# An ordinary comment (a blank after "<!--") is template text and is written
# unchanged.
printf '<html><body>Hello <!-- a plain comment -->\n</body></html>\n' \
  >"$docroot/page.htm"
printf '<html><body>Hello <!-- a plain comment -->\n</body></html>\n' \
  >"$work/expected-page"

start_server
base="http://127.0.0.1:$PORT/cgi-bin/vexil"
echo "lighttpd is listening on 127.0.0.1:$PORT"

# The template named by the path after the program (PATH_INFO, which the
# server maps to PATH_TRANSLATED in the document root).
check_response path-info "$work/expected-page" "$base/page.htm"
# The template named by the form field "input" in a GET query string.
check_response get-input "$work/expected-page" "$base?input=$docroot/page.htm"
# The same in a POST body.
check_response post-input "$work/expected-page" \
  -H 'Content-Type: application/x-www-form-urlencoded' \
  --data-binary "input=$docroot/page.htm&x=1" "$base"

stop_server

# Whatever the CGI program wrote to its standard error (a sanitizer report,
# for example) is a failure.
if [[ -s "$work/cgi-stderr.log" ]]; then
  echo "FAIL: the CGI program wrote to standard error (see cgi-stderr.log below)"
  failures=$((failures + 1))
fi

if [[ $failures -ne 0 ]]; then
  echo "FAIL: $failures check(s) failed"
  exit 1
fi
passed=1
echo "PASS: all CGI requests answered as expected"
exit 0
