#!/usr/bin/env bash
# The 20-row page as a CGI process, against the floor: a small C program
# (scripts/odbc_floor.c, compiled into a temporary folder) that connects
# through the ODBC driver manager to the same driver, runs the same query
# and writes the same answer, without a template. Each turn runs both sides 200 times in
# alternation (scripts/alternate.c); prints the median of 5 turns' medians
# and vexil's ratio.
# Usage: scripts/bench_cgi.sh [path to vexil] [runs per turn]
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
vexil=$(realpath "${1:-build/vexil}")
runs=${2:-200}
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cd "$work"
mkdir site

# shellcheck source=bench_common.sh
source "$root/scripts/bench_common.sh"
cat > site/page.htm <<PAGE
<!--DATABASE $connect-->
<HTML><BODY><TABLE>
<!--SQL SELECT id, name, price FROM items ORDER BY id-->
<!--EACHROW--><TR><TD>\$id\$</TD><TD>\$name\$</TD><TD>\$price\$</TD></TR>
<!--ENDROW-->
</TABLE></BODY></HTML>
PAGE
cc -O2 -o floor "$root/scripts/odbc_floor.c" -lodbc
query="SELECT id, name, price FROM items ORDER BY id"

# A CGI request for the page, in the environment a web server gives.
export REQUEST_METHOD=GET PATH_INFO=/page.htm VEXIL_TEMPLATE_ROOT=$work/site SCRIPT_NAME=/cgi-bin/vexil
"$vexil" > vexil.out
./floor "$connect" "$query" page > floor.out
cmp -s vexil.out floor.out || { echo "vexil and the floor program answered differently" >&2; exit 1; }

cc -O2 -o alternate "$root/scripts/alternate.c"

# Each turn runs both sides $runs times in alternation (a new process per
# run, timed from fork to exit by a small C program, so that no shell's own
# fork and exec is counted) and gives the medians in microseconds.
: > vexil.times
: > floor.times
for _ in 1 2 3 4 5; do
  read -r a b < <(./alternate "$runs" "$vexil" -- ./floor "$connect" "$query" page)
  echo "$a" >> vexil.times
  echo "$b" >> floor.times
done
median() { sort -n | awk '{ v[NR] = $1 } END { printf "%.3f", v[int((NR + 1) / 2)] / 1e3 }'; }
t_vexil=$(median < vexil.times)
t_floor=$(median < floor.times)
printf 'vexil CGI page : %s ms a run (median of 5 turns of %d)\n' "$t_vexil" "$runs"
printf 'ODBC floor (C) : %s ms a run (median of 5 turns of %d)\n' "$t_floor" "$runs"
awk -v v="$t_vexil" -v f="$t_floor" 'BEGIN { printf "vexil time = %.2fx the floor\n", v / f }'
