#!/usr/bin/env bash
# deploy/apache-fastcgi.conf and deploy/apache-cgi.conf as they are, with the
# test's paths and port: Apache on a free port of 127.0.0.1 in the
# foreground, with its ServerRoot, PidFile and logs in a temporary folder,
# and vexil --fastcgi on a Unix socket there. A page and a missing page
# through each.
#
# Usage: apache.sh <vexil binary> <source folder>
# shellcheck source=common.sh
source "$(dirname "$0")/common.sh"
need apache2 curl
start_work apache "$@"
modules=/usr/lib/apache2/modules
[[ -f $modules/mod_proxy_fcgi.so ]] || fail "no $modules/mod_proxy_fcgi.so"

# run_apache SITE_FILE: Apache with a main configuration of the test's own
# that loads what the file's comment names and includes the file.
run_apache() {
  local conf=$work/apache/$1 module user=
  mkdir -p "$work/apache"
  free_port
  site_file "$1" "$conf"
  # Started as root, Apache serves as another user.
  [[ $(id -u) == 0 ]] && user="User nobody
Group nogroup"
  {
    for module in mpm_prefork authz_core alias env setenvif cgi proxy proxy_fcgi; do
      echo "LoadModule ${module}_module $modules/mod_$module.so"
    done
    cat <<CONF
ServerRoot $work/apache
ServerName 127.0.0.1
PidFile $work/apache/httpd.pid
ErrorLog $work/logs/apache-error.log
Mutex file:$work/apache
DefaultRuntimeDir $work/apache
Listen 127.0.0.1:$port
StartServers 1
MaxRequestWorkers 4
$user
<Directory />
    Require all denied
</Directory>
Include $conf
CONF
  } >"$work/apache/httpd.conf"
  start apache2 -d "$work/apache" -f "$work/apache/httpd.conf" -DFOREGROUND
  wait_http
}

start_vexil
serve run_apache apache-fastcgi.conf
check_site fastcgi
stop_all

serve run_apache apache-cgi.conf
check_site cgi
finish "Apache answered through vexil --fastcgi and through mod_cgi"
