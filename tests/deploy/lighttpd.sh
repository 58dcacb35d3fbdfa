#!/usr/bin/env bash
# deploy/lighttpd-fastcgi.conf and deploy/lighttpd-cgi.conf as they are,
# with the test's paths: lighttpd -D on a free port of 127.0.0.1, and vexil
# --fastcgi on a Unix socket in a temporary folder. A page and a missing
# page through each.
#
# Usage: lighttpd.sh <vexil binary> <source folder>
# shellcheck source=common.sh
source "$(dirname "$0")/common.sh"
need lighttpd curl
start_work lighttpd "$@"

# run_lighttpd SITE_FILE: lighttpd with a main configuration of the test's
# own that includes the site file.
run_lighttpd() {
  local conf=$work/lighttpd/$1
  mkdir -p "$work/lighttpd/htdocs"
  free_port
  site_file "$1" "$conf"
  cat >"$work/lighttpd/lighttpd.conf" <<CONF
server.document-root = "$work/lighttpd/htdocs"
server.bind = "127.0.0.1"
server.port = $port
server.errorlog = "$work/logs/lighttpd-error.log"
server.breakagelog = "$work/logs/cgi-stderr.log"
server.upload-dirs = ( "$work/lighttpd" )
include "$conf"
CONF
  start lighttpd -D -f "$work/lighttpd/lighttpd.conf"
  wait_http
}

start_vexil
serve run_lighttpd lighttpd-fastcgi.conf
check_site fastcgi
stop_all

serve run_lighttpd lighttpd-cgi.conf
check_site cgi
finish "lighttpd answered through vexil --fastcgi and through mod_cgi"
