#!/usr/bin/env bash
# The demo page as a locked web run: served from a template folder by its
# path, it gives the same page as the command line, behind the web header;
# a request that tries to choose the demo's database file is refused.
# Usage: demo_locked.sh <vexil binary> <source folder>
set -uo pipefail
fail() { echo "FAIL: $*"; exit 1; }
[[ $# -eq 2 && -x $1 && -f $2/examples/shop.htm ]] || fail "usage: $0 <vexil binary> <source folder>"
binary=$(cd "$(dirname "$1")" && pwd -P)/$(basename "$1") source=$2
work=$(mktemp -d "${TMPDIR:-/tmp}/vexil-demo.XXXXXX") || fail "mktemp failed"
trap 'rm -rf "$work"' EXIT
mkdir "$work/site" && cp "$source/examples/shop.htm" "$work/site/" || fail "cannot copy the demo page"
sqlite3 "$work/shop.db" <"$source/examples/shop.sql" || fail "cannot make the demo database"
odbc=(ODBCSYSINI="${ODBCSYSINI:-}" ODBCINI="${ODBCINI:-}")
web() { (cd "$work" && env -i PATH="$PATH" "${odbc[@]}" REQUEST_METHOD=GET VEXIL_TEMPLATE_ROOT=site \
  PATH_INFO=/shop.htm "$@" "$binary") }

(cd "$work" && env -i PATH="$PATH" "${odbc[@]}" "$binary" -i site/shop.htm) >"$work/cli.out" || fail "the command-line run failed"
grep -q "Corner Shop" "$work/cli.out" && ! grep -q "Vexil Error" "$work/cli.out" || { cat "$work/cli.out"; fail "the demo page is broken"; }
web >"$work/web.out" || fail "the web run failed"
printf 'Content-Type: text/html; charset=utf-8\n\n' | cat - "$work/cli.out" | cmp -s - "$work/web.out" ||
  { diff <(printf 'Content-Type: text/html; charset=utf-8\n\n' | cat - "$work/cli.out") "$work/web.out"; fail "the locked web run differs from the command line"; }
web QUERY_STRING=dbfile=/etc/passwd >"$work/attack.out" || fail "the attacked run failed"
grep -q "The connect text takes a value from outside the template; it was not used." "$work/attack.out" &&
  ! grep -qE "^<p>[0-9]+ products" "$work/attack.out" || { cat "$work/attack.out"; fail "a request chose the database file"; }
echo "PASS: the demo in a locked web run"
