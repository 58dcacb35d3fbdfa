#!/usr/bin/env bash
# Serves the demo address book (examples/contacts) on http://127.0.0.1:PORT/
# (8080 unless PORT is given) through nginx and `vexil --fastcgi`, set up as
# deploy/nginx-fastcgi.conf sets up a site: a locked run for every page, the
# templates outside any document root, a site key that signs the edit forms.
# Runs in the foreground; Ctrl-C (or SIGTERM) stops nginx and vexil.
#
# Usage: scripts/serve.sh [PORT]
#   VEXIL=path    the program to run (default: build/vexil, built if missing)
#   SERVE_DIR=dir the work folder (default: build/serve); its database, key,
#                 configuration and logs are made afresh on every start
# Exit status 2: nginx could not take the port (another program holds it).
set -euo pipefail
PATH=$PATH:/usr/sbin:/sbin
repo=$(cd "$(dirname "$0")/.." && pwd)
port=${1:-8080}
[[ $port =~ ^[0-9]+$ ]] || { echo "usage: $0 [PORT]" >&2; exit 1; }

for tool in nginx sqlite3 curl; do
  command -v "$tool" >/dev/null || { bash "$repo/scripts/install-deps.sh"; break; }
done
vexil=${VEXIL:-$repo/build/vexil}
if [[ ! -x $vexil ]]; then
  cmake -S "$repo" -B "$repo/build"
  cmake --build "$repo/build" -j2
fi
vexil=$(realpath "$vexil")
driver=$(find /usr/lib -name libsqlite3odbc.so 2>/dev/null | head -n 1)
[[ -n $driver ]] || { echo "serve: the SQLite ODBC driver (libsqliteodbc) is not installed" >&2; exit 1; }

work=${SERVE_DIR:-$repo/build/serve}
rm -rf "$work/data" "$work/nginx" "$work/logs"
mkdir -p "$work/data" "$work/nginx/temp" "$work/logs"
work=$(realpath "$work")
templates=$repo/examples/contacts/templates

# The database and the site key live in the data folder, which no URL reaches.
sqlite3 "$work/data/contacts.db" <"$repo/examples/contacts/contacts.sql"
(umask 077 && head -c 32 /dev/urandom | base64 >"$work/data/site.key")
# A driver list of our own, so the machine's ODBC set-up does not matter.
printf '[SQLite3]\nDescription=SQLite3 ODBC driver\nDriver=%s\n' "$driver" >"$work/odbcinst.ini"
: >"$work/odbc.ini"

# The server block of deploy/nginx-fastcgi.conf with this folder's paths, plus
# /pages itself, where the edit forms post (their ACTION is the SCRIPT_NAME),
# and the settings the pages need: where the database lies, the site key.
user=; [[ $(id -u) -eq 0 ]] && user="user root;"
cat >"$work/nginx/nginx.conf" <<CONF
$user
worker_processes 1;
pid $work/nginx/nginx.pid;
error_log $work/logs/nginx-error.log;
events { worker_connections 64; }
http {
  access_log $work/logs/nginx-access.log;
  client_body_temp_path $work/nginx/temp;
  fastcgi_temp_path $work/nginx/temp;
  proxy_temp_path $work/nginx/temp;
  uwsgi_temp_path $work/nginx/temp;
  scgi_temp_path $work/nginx/temp;
  server {
    listen 127.0.0.1:$port;
    server_name _;
    absolute_redirect off;
    location = / { return 302 /pages/index.htm; }
    location / { return 404; }
    location ~ ^/pages(/|\$) {
      fastcgi_split_path_info ^(/pages)(/.*)\$;
      include /etc/nginx/fastcgi_params;
      fastcgi_param PATH_INFO \$fastcgi_path_info;
      fastcgi_param VEXIL_TEMPLATE_ROOT $templates;
      fastcgi_param VEXIL_SECRET_FILE $work/data/site.key;
      fastcgi_param VEXIL_WORK_FOLDER $work/data;
      fastcgi_pass unix:$work/vexil.sock;
    }
  }
}
CONF

pids=()
# shellcheck disable=SC2317  # runs as the EXIT trap
stop() {
  trap - EXIT INT TERM
  local pid
  for pid in "${pids[@]}"; do kill -TERM "$pid" 2>/dev/null || true; done
  for pid in "${pids[@]}"; do wait "$pid" 2>/dev/null || true; done
}
trap stop EXIT
trap 'exit 130' INT
trap 'exit 143' TERM

rm -f "$work/vexil.sock"
ODBCSYSINI=$work ODBCINI=$work/odbc.ini "$vexil" --fastcgi "$work/vexil.sock" --workers 2 \
  >>"$work/logs/vexil.log" 2>&1 &
pids+=($!)
for _ in $(seq 100); do [[ -S $work/vexil.sock ]] && break; sleep 0.1; done
[[ -S $work/vexil.sock ]] || { cat "$work/logs/vexil.log" >&2; echo "serve: vexil --fastcgi did not start" >&2; exit 1; }
chmod 666 "$work/vexil.sock"

nginx -e "$work/logs/nginx-error.log" -p "$work/nginx" -c "$work/nginx/nginx.conf" -g 'daemon off;' &
pids+=($!)
url=http://127.0.0.1:$port/
for _ in $(seq 100); do
  code=$(curl -q -s --noproxy '*' --max-time 1 -o /dev/null -w '%{http_code}' "$url" || true)
  [[ $code != 000 ]] && break
  kill -0 "${pids[1]}" 2>/dev/null || { cat "$work/logs/nginx-error.log" >&2; echo "serve: nginx did not start on port $port" >&2; exit 2; }
  sleep 0.1
done
[[ $code != 000 ]] || { echo "serve: nothing answers on $url" >&2; exit 1; }

echo "The demo site is at $url (work folder $work). Ctrl-C stops it."
wait -n "${pids[@]}" || true
echo "serve: a server ended; stopping" >&2
exit 1
