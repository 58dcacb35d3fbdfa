#!/usr/bin/env bash
# deploy/nginx-fastcgi.conf and deploy/nginx-cgi.conf as they are, with the
# test's paths and port: nginx on a free port of 127.0.0.1 in the
# foreground, vexil --fastcgi on a Unix socket in a temporary folder, and
# fcgiwrap for the CGI way. A page and a missing page through each.
#
# Usage: nginx.sh <vexil binary> <source folder>
# shellcheck source=common.sh
source "$(dirname "$0")/common.sh"
need nginx fcgiwrap curl
start_work nginx "$@"

start_vexil
serve run_nginx nginx-fastcgi.conf
check_site fastcgi
stop_all

start fcgiwrap -c 2 -s "unix:$work/fcgiwrap.sock"
for _ in $(seq 100); do [[ -S $work/fcgiwrap.sock ]] && break; sleep 0.1; done
serve run_nginx nginx-cgi.conf
check_site cgi
finish "nginx answered through vexil --fastcgi and through fcgiwrap"
