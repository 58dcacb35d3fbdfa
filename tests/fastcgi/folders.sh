#!/usr/bin/env bash
# One persistent worker, two requests run in different folders with the same
# connect text naming its database file relative to the folder: each request
# reads its own folder's database, never the connection the other left open.
#
# Usage: folders.sh <vexil binary>
# shellcheck source=common.sh
source "$(dirname "$0")/common.sh"
need cgi-fcgi sqlite3
make_work fcgi-folders "$@"

for site in a b; do
  mkdir "$work/$site"
  sqlite3 "$work/$site/test.db" "CREATE TABLE t (v TEXT); INSERT INTO t VALUES ('from $site');" ||
    fail "cannot make the database of $site"
  printf '<!--DATABASE DRIVER=SQLite3;Database=test.db-->\n<!--SQL SELECT v FROM t-->[$v$]\n' >"$work/$site/page.htm"
done

start_worker
for site in a b a b; do
  answer=$(fcgi REQUEST_METHOD=GET QUERY_STRING=input=page.htm VEXIL_OPEN=1 VEXIL_WORK_FOLDER="$work/$site")
  [[ $answer == *"[from $site]"* ]] || { printf '%s\n' "$answer"; fail "the request in $site did not read its own database"; }
done
echo "PASS: each folder's request reads its own database through one worker"
