#!/usr/bin/env bash
# deploy/vexil.service with the test's paths: systemd-analyze verify accepts
# it, it keeps its hardening, and its ExecStart line, run as it stands with
# the unit's Environment lines on a socket in a temporary folder, serves a
# page and a missing page to cgi-fcgi.
#
# Usage: systemd.sh <vexil binary> <source folder>
# Exit status: 0 pass, 1 fail, 77 cgi-fcgi or systemd-analyze missing (1
# instead when VEXIL_REQUIRE_ALL=1; scripts/install-deps.sh installs both).
# Without systemd-analyze the ExecStart check still runs before the skip.
# shellcheck source=common.sh
source "$(dirname "$0")/common.sh"
need cgi-fcgi
analyze=$(command -v systemd-analyze)
if [[ -z $analyze && ${VEXIL_REQUIRE_ALL:-} == 1 ]]; then
  fail "systemd-analyze is not installed (VEXIL_REQUIRE_ALL=1; Debian package systemd)"
fi
start_work systemd "$@"
unit=$work/vexil.service
sed -e "s|/usr/local/bin/vexil|$vexil|g" \
    -e "s|/run/vexil/vexil.sock|$work/vexil.sock|g" \
    -e "s|/srv/site/|$work/site/|g" \
    "$deploy/vexil.service" >"$unit" || fail "cannot write $unit"
if grep -v '^[[:space:]]*#' "$unit" | grep -nE '/usr/local/bin|/run/vexil/|/srv/site'; then
  fail "vexil.service: the lines above keep a path the test did not replace"
fi
mkdir -p "$work/site/out" "$work/site/templates" || fail "mkdir failed"
printf '<p>Hello from the deployed site</p>\n' >"$work/site/templates/page.htm"

# value KEY: the unit's setting KEY (the last one given), empty when none.
value() { grep -E "^$1=" "$unit" | tail -n 1 | cut -d= -f2-; }

# The settings a reader relies on.
setting_problems=()
want() { [[ $(value "$1") == "$2" ]] || setting_problems+=("$1='$(value "$1")', expected '$2'"); }
want User vexil
want Restart on-failure
want ProtectSystem strict
want NoNewPrivileges yes
want PrivateTmp yes
want RuntimeDirectory vexil
# Environment lines, as name=value words.
mapfile -t environment < <(grep -E '^Environment=' "$unit" | cut -d= -f2-)
env_value() { local e; for e in "${environment[@]}"; do [[ ${e%%=*} == "$1" ]] && echo "${e#*=}"; done; }
templates=$(env_value VEXIL_TEMPLATE_ROOT)
output=$(env_value VEXIL_OUTPUT_ROOT)
[[ $templates == "$work/site/templates" ]] || setting_problems+=("VEXIL_TEMPLATE_ROOT is '$templates'")
# The template root read-only, the output folder writable.
[[ " $(value ReadOnlyPaths) " == *" $templates "* ]] || setting_problems+=("ReadOnlyPaths lacks the template root")
[[ -n $output && " $(value ReadWritePaths) " == *" $output "* ]] || setting_problems+=("ReadWritePaths lacks the output root '$output'")
[[ ${#setting_problems[@]} -eq 0 ]] || fail "vexil.service: ${setting_problems[*]}"
echo "ok [settings] own user, Restart=on-failure, ProtectSystem=strict, templates read-only, output writable"

# ExecStart as it stands (no quoting in it), in the unit's environment.
read -r -a exec_start <<<"$(value ExecStart)"
[[ ${exec_start[0]} == "$vexil" ]] || fail "ExecStart does not start the program: ${exec_start[*]}"
(cd "$(value WorkingDirectory)" && exec env -i PATH="$PATH" "${environment[@]}" setsid "${exec_start[@]}" \
  >>"$work/logs/vexil.out" 2>&1) &
pids+=($!)
for _ in $(seq 100); do [[ -S $work/vexil.sock ]] && break; sleep 0.1; done
[[ -S $work/vexil.sock ]] || fail "ExecStart made no socket $work/vexil.sock"

# request NAME PATH_INFO EXPECTED: cgi-fcgi's whole answer is EXPECTED.
request() {
  count=$((count + 1))
  local got
  got=$(env -i PATH="$PATH" REQUEST_METHOD=GET PATH_INFO="$2" QUERY_STRING= \
    timeout 20 cgi-fcgi -bind -connect "$work/vexil.sock" | od -An -c)
  if [[ $got == "$(printf '%s' "$3" | od -An -c)" ]]; then echo "ok [$1]"; return; fi
  echo "FAIL [$1]: expected"; printf '%s' "$3" | od -An -c; echo "got"; echo "$got"
  failures=$((failures + 1))
}
request page /page.htm $'Content-Type: text/html; charset=utf-8\n\n<p>Hello from the deployed site</p>\n'
request missing-page /nothing.htm "Status: 404 Not Found
Content-Type: text/html; charset=utf-8

$not_found_body
"

if [[ -n $analyze ]]; then
  count=$((count + 1))
  if ! verdict=$(cd "$work" && "$analyze" verify --man=no "$unit" 2>&1); then
    echo "FAIL [verify]: systemd-analyze verify:"; echo "$verdict"; failures=$((failures + 1))
  elif grep -q 'vexil.service' <<<"$verdict"; then
    echo "FAIL [verify]: systemd-analyze verify warns:"; echo "$verdict"; failures=$((failures + 1))
  else
    echo "ok [verify] systemd-analyze verify"
  fi
fi
finish "vexil.service checked, its ExecStart served pages"
if [[ -z $analyze ]]; then
  echo "SKIP: systemd-analyze is not installed: the unit was not verified"
  exit 77
fi
