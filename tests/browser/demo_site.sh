#!/usr/bin/env bash
# The demo site in a real browser: scripts/serve.sh serves examples/contacts
# on a free loopback port (nginx and vexil --fastcgi in a temporary folder),
# and demo_site.mjs drives Debian's chromium through it with playwright-core
# (installed by scripts/install-deps.sh in a cache outside the source tree,
# $VEXIL_BROWSER_MODULES or ~/.cache/vexil/browser).
#
# Usage: demo_site.sh <vexil binary> <source folder>
# Exit status: 0 pass, 1 fail, 77 a tool missing (1 when VEXIL_REQUIRE_ALL=1).
# shellcheck source=../deploy/common.sh
source "$(dirname "$0")/../deploy/common.sh"
[[ $# -eq 2 && -x $1 && -f $2/scripts/serve.sh ]] || fail "usage: $0 <vexil binary> <source folder>"
vexil=$(realpath "$1") src=$(realpath "$2")
need nginx sqlite3 curl node "${CHROMIUM:-chromium}"
modules=${VEXIL_BROWSER_MODULES:-${XDG_CACHE_HOME:-$HOME/.cache}/vexil/browser}/node_modules
if [[ ! -f $modules/playwright-core/package.json ]]; then
  [[ ${VEXIL_REQUIRE_ALL:-} == 1 ]] && fail "playwright-core is not installed in $modules: scripts/install-deps.sh (VEXIL_REQUIRE_ALL=1)"
  echo "SKIP: playwright-core is not installed in $modules (scripts/install-deps.sh)"
  exit 77
fi

work=$(mktemp -d "${TMPDIR:-/tmp}/vexil-browser.XXXXXX") || fail "mktemp failed"
pids=() passed=0
trap on_exit EXIT
mkdir -p "$work/logs"
# The script runs beside the packages: node finds a module's imports in the
# node_modules next to it.
cp "$src/tests/browser/demo_site.mjs" "$work/" && ln -s "$modules" "$work/node_modules" || fail "cannot set up $work"

# run_site: serve.sh on a free port; status 1 when nginx could not take it.
run_site() {
  local log=$work/logs/serve.sh.out rc
  free_port
  : >"$log"
  SERVE_DIR=$work/site VEXIL=$vexil start "$src/scripts/serve.sh" "$port"
  for _ in $(seq 300); do
    grep -q 'The demo site is at' "$log" && return 0
    if ! kill -0 "${pids[-1]}" 2>/dev/null; then
      wait "${pids[-1]}"; rc=$?
      unset 'pids[-1]'
      [[ $rc == 2 ]] && return 1
      fail "serve.sh ended with status $rc"
    fi
    sleep 0.1
  done
  fail "serve.sh did not report the site"
}
serve run_site ""

CHROMIUM=$(command -v "${CHROMIUM:-chromium}") timeout 120 node "$work/demo_site.mjs" "http://127.0.0.1:$port/" "$work/site/data/contacts.db" ||
  fail "the browser run failed"
stop_all
# Sanitizer reports and other complaints of the workers land here.
[[ -s $work/site/logs/vexil.log ]] && { cat "$work/site/logs/vexil.log"; fail "vexil --fastcgi wrote to its log"; }
passed=1
echo "PASS: the demo site through nginx, vexil --fastcgi and chromium"
