#!/usr/bin/env bash
# Throughput on plain text: a 50 MB template with two $name$ references a
# line, written to a file, against sed making the same substitution. Runs
# each side 5 times in turns and prints the medians and vexil's throughput
# as a multiple of sed's.
# Usage: scripts/bench_text.sh [path to vexil] [megabytes]
set -euo pipefail
vexil=$(realpath "${1:-build/vexil}")
megabytes=${2:-50}
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cd "$work"

awk -v mb="$megabytes" 'BEGIN {
  line = "Dear $name$, your order $order$ is ready for pickup at the front desk today."
  n = int(mb * 1024 * 1024 / (length(line) + 1)); for (i = 0; i < n; i++) print line }' > page.htm

# Seconds taken by a command whose standard output goes to the file $1.
timed() {
  local out=$1 start end
  shift
  start=$(date +%s%N)
  "$@" > "$out"
  end=$(date +%s%N)
  echo $(((end - start) / 1000))
}
median() { sort -n | awk '{ v[NR] = $1 } END { printf "%.3f", v[int((NR + 1) / 2)] / 1e6 }'; }

: > vexil.times
: > sed.times
for _ in 1 2 3 4 5; do
  timed vexil.out "$vexil" -i page.htm name=Ann order=42 >> vexil.times
  timed sed.out sed 's/\$name\$/Ann/g; s/\$order\$/42/g' page.htm >> sed.times
done
cmp -s vexil.out sed.out || { echo "vexil and sed wrote different text" >&2; exit 1; }
t_vexil=$(median < vexil.times)
t_sed=$(median < sed.times)
printf 'vexil: %s MB in %s s (median of 5)\n' "$megabytes" "$t_vexil"
printf 'sed  : %s MB in %s s (median of 5)\n' "$megabytes" "$t_sed"
awk -v v="$t_vexil" -v s="$t_sed" 'BEGIN { printf "vexil throughput = %.2fx sed\n", s / v }'
