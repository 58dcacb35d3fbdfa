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

start_vexil
serve run_nginx nginx-fastcgi.conf
check_site fastcgi
stop_all

start fcgiwrap -c 2 -s "unix:$work/fcgiwrap.sock"
for _ in $(seq 100); do [[ -S $work/fcgiwrap.sock ]] && break; sleep 0.1; done
serve run_nginx nginx-cgi.conf
check_site cgi
finish "nginx answered through vexil --fastcgi and through fcgiwrap"
