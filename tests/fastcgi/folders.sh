#!/usr/bin/env bash
# One persistent worker, two requests run in different folders with the same
# connect text naming its database file relative to the folder: each request
# reads its own folder's database, never the connection the other left open.
#
# Usage: folders.sh <vexil binary>
# Exit status: 0 pass, 1 fail, 77 cgi-fcgi missing (1 instead when
# VEXIL_REQUIRE_ALL=1).
set -uo pipefail

# shellcheck source=common.sh
source "$(dirname "$0")/common.sh"
[[ $# -eq 1 && -x $1 ]] || fail "usage: $0 <vexil binary>"
vexil=$(realpath "$1")
command -v sqlite3 >/dev/null || fail "sqlite3 is not installed"

work=$(mktemp -d "${TMPDIR:-/tmp}/vexil-fcgi.XXXXXX") || fail "mktemp failed"
master=
# shellcheck disable=SC2317  # runs as the EXIT trap
on_exit() {
  [[ -n $master ]] && kill "$master" 2>/dev/null && wait "$master" 2>/dev/null
  rm -rf "$work"
}
trap on_exit EXIT

for site in a b; do
  mkdir "$work/$site"
  sqlite3 "$work/$site/test.db" "CREATE TABLE t (v TEXT); INSERT INTO t VALUES ('from $site');" ||
    fail "cannot make the database of $site"
  printf '<!--DATABASE DRIVER=SQLite3;Database=test.db-->\n<!--SQL SELECT v FROM t-->[$v$]\n' >"$work/$site/page.htm"
done

request() { # FOLDER: the page of that folder through the worker
  env -i PATH="$PATH" ODBCSYSINI="${ODBCSYSINI:-}" ODBCINI="${ODBCINI:-}" REQUEST_METHOD=GET \
    QUERY_STRING=input=page.htm VEXIL_OPEN=1 VEXIL_WORK_FOLDER="$work/$1" \
    timeout 20 cgi-fcgi -bind -connect "$work/sock"
}

(cd "$work" && exec "$vexil" --fastcgi "$work/sock" --workers 1) &
master=$!
wait_for_server "$work/sock"
for site in a b a b; do
  answer=$(request "$site")
  [[ $answer == *"[from $site]"* ]] || { printf '%s\n' "$answer"; fail "the request in $site did not read its own database"; }
done
echo "PASS: each folder's request reads its own database through one worker"
