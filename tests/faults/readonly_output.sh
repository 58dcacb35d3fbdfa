#!/usr/bin/env bash
# Output into a folder the run cannot write, made so for real in two ways:
#   erofs   the folder is a read-only bind mount, in a mount namespace of
#           the test's own (unshare; nothing outside it sees the mount);
#   eacces  the folder has mode 555 and the run is not its owner (as root,
#           which ignores mode bits, the run is made as the user nobody).
# For each, -o into the folder, OUTPUT into it (with -o naming a writable
# file) and OUTPUT in a locked web run whose VEXIL_OUTPUT_ROOT it is: a
# message with the system's reason, exit 1, the old files keep their
# content and no file is left behind, in the folder or next to -o's file.
#
# Usage: readonly_output.sh <vexil binary>
# Exit status: 0 pass, 1 fail, 77 no way to make a read-only folder here (1
# instead when VEXIL_REQUIRE_ALL=1).
set -uo pipefail
fail() { echo "FAIL: $*"; exit 1; }
[[ $# -eq 1 && -x $1 ]] || fail "usage: $0 <vexil binary>"
vexil=$(realpath "$1")

work=$(mktemp -d "${TMPDIR:-/tmp}/vexil-rofolder.XXXXXX") || fail "mktemp failed"
trap 'rm -rf "$work"' EXIT
chmod 755 "$work"  # nobody must reach the templates
cd "$work" || fail "cannot enter $work"
failures=0

printf 'x\n' >plain.htm
printf 'hello\n<!--OUTPUT ro/page.html-->page text\nmore\n' >page.htm
printf '<!--OUTPUT page.html-->page text\n' >web.htm

# as_run MECHANISM COMMAND...: runs COMMAND as the run under test.
as_run() {
  local how=$1
  shift
  if [[ $how == eacces ]]; then
    if [[ $EUID -eq 0 ]]; then setpriv --reuid=nobody --regid=nogroup --clear-groups -- "$@"; else "$@"; fi
  elif [[ $EUID -eq 0 ]]; then
    unshare -m -- sh -c 'mount --bind -o ro ro ro && exec "$@"' sh "$@"
  else
    unshare -r -m -- sh -c 'mount --bind ro ro && mount -o remount,bind,ro ro && exec "$@"' sh "$@"
  fi
}

# case NAME MECHANISM EXPECTED_OUTPUT ENV... -- ARGS...: one run; its
# standard output must be exactly EXPECTED_OUTPUT, its exit 1, its standard
# error empty, and the folders as they were.
case_run() {
  local name=$1 how=$2 want=$3 env=() out code before after
  shift 3
  while [[ $1 != -- ]]; do env+=("$1"); shift; done
  shift
  before=$(cd "$work" && find . -path ./logs -prune -o -printf '%p %s\n' | sort)
  out=$(as_run "$how" env -i PATH="$PATH" "${env[@]}" "$vexil" "$@" 2>"$work/logs/err")
  code=$?
  after=$(cd "$work" && find . -path ./logs -prune -o -printf '%p %s\n' | sort)
  local problems=()
  [[ $code == 1 ]] || problems+=("exit $code, expected 1")
  [[ $out == "$want" ]] || problems+=("output differs")
  [[ -s $work/logs/err ]] && problems+=("standard error: $(cat "$work/logs/err")")
  [[ $before == "$after" ]] || problems+=("files changed: $(diff <(echo "$before") <(echo "$after") | grep '^[<>]' | tr '\n' ' ')")
  [[ $(cat ro/page.html) == OLD && $(cat out.html) == OLD ]] || problems+=("an old file lost its content")
  if [[ ${#problems[@]} -eq 0 ]]; then echo "ok [$name]"; return; fi
  echo "FAIL [$name]: ${problems[*]}"
  echo "--- expected"; printf '%s\n' "$want"; echo "--- actual"; printf '%s\n' "$out"
  failures=$((failures + 1))
}

mkdir ro logs
echo OLD >ro/page.html
echo OLD >out.html
chmod 555 ro
chmod 666 out.html  # nobody may replace it: the folder stays writable for the eacces runs
chmod 777 "$work" logs
# Is there a way to make the folder read-only in this environment?
if ! as_run erofs sh -c '! touch ro/probe' 2>/dev/null || [[ -e ro/probe ]]; then
  rm -f ro/probe
  [[ ${VEXIL_REQUIRE_ALL:-} == 1 ]] && fail "cannot mount a read-only folder here (VEXIL_REQUIRE_ALL=1)"
  echo "SKIP: cannot mount a read-only folder here"
  exit 77
fi

for how in erofs eacces; do
  if [[ $how == erofs ]]; then reason="Read-only file system"; else reason="Permission denied"; fi
  case_run "$how: -o into the folder" "$how" \
    "Vexil Error: Error opening the output file: $reason ro/out.tmp" -- -i plain.htm -o ro/out.html
  case_run "$how: OUTPUT into the folder" "$how" \
    "Vexil Error: Error opening the output file: $reason ro/page.tmp"$'\n \n[Error in file page.htm line 2]' \
    -- -i page.htm -o out.html
  case_run "$how: OUTPUT in a locked web run" "$how" \
    "Content-Type: text/html; charset=utf-8"$'\n\n''<HTML><HEAD><TITLE>Vexil Error</TITLE> </HEAD><BODY BGCOLOR="#FFFFFF"><P><B>Vexil Error:</B> Error opening the output file: '"$reason"$' page.tmp\n<BR>[Error in file web.htm line 1]<P>' \
    REQUEST_METHOD=GET QUERY_STRING=input=web.htm VEXIL_TEMPLATE_ROOT="$work" VEXIL_OUTPUT_ROOT="$work/ro" --
done
chmod 755 ro
[[ $failures -eq 0 ]] || fail "$failures case(s) failed"
echo "PASS: output into a read-only folder fails whole, with the system's reason, leaving nothing"
