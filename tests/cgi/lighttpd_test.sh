#!/usr/bin/env bash
# Runs the vexil binary as a CGI program behind lighttpd, listening on a free
# port of 127.0.0.1 only, and checks three requests (exact status, type and
# body). Sourced by lighttpd_locked_test.sh for its functions.
#
# Usage: lighttpd_test.sh <vexil binary>
# Exit status: 0 pass, 1 fail, 77 lighttpd or curl missing (1 instead when
# VEXIL_REQUIRE_ALL=1).
# shellcheck source=../deploy/common.sh
source "$(dirname "$0")/../deploy/common.sh"
failed() { echo "FAIL: $*"; failures=$((failures + 1)); }  # counts; goes on

# A double-quoted lighttpd configuration string.
q() { local s=${1//\\/\\\\}; printf '"%s"' "${s//\"/\\\"}"; }

# make_work NAME BINARY: $work (see new_work), with the program in
# $docroot/cgi-bin; skips without lighttpd or curl.
make_work() {
  need lighttpd curl
  [[ $# -eq 2 && -f $2 && -x $2 ]] || fail "usage: $0 <vexil binary>"
  new_work "$1"
  docroot=$work/htdocs
  install -D "$2" "$docroot/cgi-bin/vexil" || fail "cannot copy $2"
}

# run_site CONF: lighttpd on a free port with the configuration $work/CONF,
# its CGI programs getting $env_entries.
run_site() {
  free_port
  cat >"$work/$1" <<CONF
server.modules = ( "mod_setenv", "mod_cgi" )
server.document-root = $(q "$docroot")
server.bind = "127.0.0.1"
server.port = $port
server.errorlog = $(q "$work/logs/error.log")
server.breakagelog = $(q "$work/logs/cgi-stderr.log")
server.upload-dirs = ( $(q "$work") )
setenv.add-environment = ( $(IFS=,; echo "${env_entries[*]}") )
\$HTTP["url"] =~ "^/cgi-bin/" { cgi.assign = ( "" => "" ) }
CONF
  start lighttpd -D -f "$work/$1"
  wait_http
}

# start_site SETTING: the site; the CGI program gets SETTING (a
# configuration entry) and the variables of ours the e2e runner passes on.
start_site() {
  local name
  env_entries=("$1")
  for name in PATH ASAN_OPTIONS UBSAN_OPTIONS LSAN_OPTIONS ODBCSYSINI ODBCINI $(compgen -e VEXIL_TEST_); do
    [[ -n ${!name+set} ]] && env_entries+=("$(q "$name") => $(q "${!name}")")
  done
  serve run_site lighttpd.conf
  base="http://127.0.0.1:$port/cgi-bin/vexil"
}

# finish_site WHAT: stops the server; anything the CGI program wrote to
# stderr (a sanitizer report, say) fails, as does any failed check.
finish_site() {
  stop_all
  [[ -s $work/logs/cgi-stderr.log ]] && failed "the CGI program wrote to standard error"
  finish "$1"
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
