#!/usr/bin/env bash
# Requests per second for one page, a 20-row table read from SQLite, served
# by nginx on a loopback port in four ways: vexil --fastcgi, vexil as a CGI
# program (through fcgiwrap), and PHP (php-fpm, PDO) on the same database
# file; nginx's own static copy of the page shows the ceiling. Prints
# requests/s, the median latency and each way's ratio to vexil --fastcgi.
# Not part of the tests: installs nginx, php-fpm, fcgiwrap and wrk when they
# are missing (curl in a loop measures when wrk cannot be had).
#
# Usage: scripts/bench_web.sh [path to vexil] [seconds per way]
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
vexil=$(realpath "${1:-build/vexil}")
seconds=${2:-5}
PATH=$PATH:/usr/sbin:/sbin

need=()
command -v nginx >/dev/null || need+=(nginx-light)
command -v fcgiwrap >/dev/null || need+=(fcgiwrap)
compgen -G '/usr/sbin/php-fpm*' >/dev/null || need+=(php-fpm php-sqlite3)
command -v wrk >/dev/null || need+=(wrk)
if ((${#need[@]})); then
  DEBIAN_FRONTEND=noninteractive apt-get install -y -q --no-install-recommends "${need[@]}" >/dev/null ||
    echo "bench_web: could not install ${need[*]}" >&2
fi
php_fpm=$(compgen -G '/usr/sbin/php-fpm*' | head -n 1)

work=$(mktemp -d /tmp/vexil-bench.XXXXXX)
pids=()
cleanup() {
  # Each server runs in a process group of its own, with the children it made.
  for pid in "${pids[@]}"; do kill -- "-$pid" 2>/dev/null || true; done
  wait 2>/dev/null || true
  rm -rf "$work"
}
trap cleanup EXIT
cd "$work"
mkdir site cgi-bin logs
cp "$vexil" cgi-bin/vexil

# shellcheck source=bench_common.sh
source "$root/scripts/bench_common.sh"

cat >site/page.htm <<EOF
<!--DATABASE DRIVER=SQLite3;Database=$work/bench.db-->
<HTML><BODY><TABLE>
<!--SQL SELECT id, name, price FROM items ORDER BY id-->
<!--EACHROW--><TR><TD>\$id\$</TD><TD>\$name\$</TD><TD>\$price\$</TD></TR>
<!--ENDROW-->
</TABLE></BODY></HTML>
EOF
cat >page.php <<EOF
<?php
\$db = new PDO('sqlite:$work/bench.db');
echo "<HTML><BODY><TABLE>\n";
foreach (\$db->query('SELECT id, name, price FROM items ORDER BY id') as \$row) {
  echo '<TR><TD>', htmlspecialchars(\$row['id']), '</TD><TD>', htmlspecialchars(\$row['name']),
       '</TD><TD>', htmlspecialchars(\$row['price']), "</TD></TR>\n";
}
echo "</TABLE></BODY></HTML>\n";
EOF

port=
for _ in 1 2 3 4 5; do
  port=$((20000 + RANDOM % 12768))  # below the kernel's ephemeral ports
  (exec 3<>"/dev/tcp/127.0.0.1/$port") 2>/dev/null || break
done
settings="fastcgi_param VEXIL_TEMPLATE_ROOT $work/site; fastcgi_param ODBCSYSINI $work; fastcgi_param ODBCINI $work/odbc.ini;"
cat >nginx.conf <<EOF
daemon off;
user root;
worker_processes 1;
pid $work/nginx.pid;
error_log $work/logs/nginx-error.log;
events { worker_connections 256; }
http {
  access_log off;
  client_body_temp_path $work/logs;
  fastcgi_temp_path $work/logs;
  proxy_temp_path $work/logs;
  uwsgi_temp_path $work/logs;
  scgi_temp_path $work/logs;
  server {
    listen 127.0.0.1:$port;
    root $work/site;
    location = /static.html { }
    location = /fcgi { include /etc/nginx/fastcgi_params; $settings fastcgi_pass unix:$work/vexil.sock; }
    location = /cgi {
      include /etc/nginx/fastcgi_params; $settings
      fastcgi_param SCRIPT_FILENAME $work/cgi-bin/vexil;
      fastcgi_pass unix:$work/fcgiwrap.sock;
    }
    location = /page.php {
      include /etc/nginx/fastcgi_params;
      fastcgi_param SCRIPT_FILENAME $work/page.php;
      fastcgi_pass unix:$work/php.sock;
    }
  }
}
EOF
cat >php-fpm.conf <<EOF
[global]
error_log = $work/logs/php-fpm.log
daemonize = no
[bench]
listen = $work/php.sock
pm = static
pm.max_children = 2
EOF

setsid "$vexil" --fastcgi "$work/vexil.sock" --workers 2 2>logs/vexil.log &
pids+=($!)
setsid fcgiwrap -c 2 -s "unix:$work/fcgiwrap.sock" 2>logs/fcgiwrap.log &
pids+=($!)
if [[ -n $php_fpm ]]; then
  setsid "$php_fpm" -R -F -y php-fpm.conf 2>logs/php-fpm.out &
  pids+=($!)
fi
setsid nginx -c "$work/nginx.conf" 2>logs/nginx.out &
pids+=($!)
sleep 1

base=http://127.0.0.1:$port
curl -s "$base/fcgi?input=page.htm" >site/static.html
# name|URL|process group whose CPU time serves it (none for nginx's own)
ways=("vexil --fastcgi|/fcgi?input=page.htm|${pids[0]}" "vexil CGI (fcgiwrap)|/cgi?input=page.htm|${pids[1]}"
      "php-fpm + PDO|/page.php|${pids[2]:-}" "nginx static copy|/static.html|")

# cpu_ticks GROUP: user and system time of the group's processes and of
# the children they waited for, in clock ticks.
cpu_ticks() {
  local sum=0 stat fields
  [[ -n $1 ]] || { echo 0; return; }
  for stat in /proc/[0-9]*/stat; do
    read -r -a fields 2>/dev/null <"$stat" || continue
    # Fields after the command's ")": 3 state ... 5 pgrp ... 14-17 times.
    local rest=${fields[*]}
    rest=${rest##*) }
    read -r -a fields <<<"$rest"
    [[ ${fields[2]} == "$1" ]] && sum=$((sum + fields[11] + fields[12] + fields[13] + fields[14]))
  done
  echo "$sum"
}

# requests/s and median latency (ms) of one URL.
measure() {
  if command -v wrk >/dev/null; then
    wrk -t 2 -c 8 -d "${seconds}s" --latency "$1" |
      awk '/^Requests\/sec/ { r = $2 }
           / requests in / { n = $1 }
           $1 == "50%" { v = $2; u = v; sub(/[a-z]+$/, "", v); sub(/^[0-9.]+/, "", u);
                         m = u == "us" ? v / 1000 : u == "s" ? v * 1000 : v }
           END { printf "%.0f %.2f %d\n", r, m, n }'
    return
  fi
  local n=0 start now times=()
  start=$(date +%s%N)
  while :; do
    now=$(date +%s%N)
    ((now - start < seconds * 1000000000)) || break
    times+=("$(curl -s -o /dev/null -w '%{time_total}' "$1")")
    n=$((n + 1))
  done
  printf '%s\n' "${times[@]}" | sort -n |
    awk -v n="$n" -v t="$(((now - start) / 1000000))" '{ a[NR] = $1 }
      END { printf "%.0f %.2f %d\n", n * 1000 / t, a[int((NR + 1) / 2)] * 1000, n }'
}

printf '%-24s %10s %9s %8s %16s\n' way requests/s p50-ms ratio server-cpu-us/req
first=
tick_us=$((1000000 / $(getconf CLK_TCK)))
for way in "${ways[@]}"; do
  IFS='|' read -r name url group <<<"$way"
  url=$base$url
  rows=$(curl -s "$url" | grep -c '<TR><TD>' || true)
  if [[ $rows != 20 ]]; then
    printf '%-24s %s\n' "$name" "no 20-row page here ($rows rows); skipped"
    continue
  fi
  before=$(cpu_ticks "$group")
  read -r rate p50 count < <(measure "$url")
  cpu=$(( ($(cpu_ticks "$group") - before) * tick_us / (count > 0 ? count : 1) ))
  [[ -n $group ]] || cpu=-
  first=${first:-$rate}
  printf '%-24s %10s %9s %8s %16s\n' "$name" "$rate" "$p50" \
    "$(awk -v a="$rate" -v b="$first" 'BEGIN { printf "%.2f", a / b }')" "$cpu"
done
