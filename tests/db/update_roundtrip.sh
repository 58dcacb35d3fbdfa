#!/usr/bin/env bash
# Update form round trip: renders a page with UPDATEFORM (CGI GET), reads the
# first form's fields as a browser does, posts them back (CGI POST) and
# compares the table before and after.
# Usage: update_roundtrip.sh [--locked] [--phases LETTERS] <vexil binary> sqlite|postgresql|mariadb [SETTINGS FILE]
# --locked: locked web runs (templates in a template folder that name their
# database, a site key that signs the forms); otherwise open runs that take
# the database from the request.
# Server settings (host=, port=, user=, bindir= or client=; tests/db/pg_server.sh,
# tests/db/maria_server.sh) come from SETTINGS FILE or $VEXIL_TEST_PG_ENV
# ($VEXIL_TEST_MARIA_ENV); a database of its own is made and dropped. The
# script's own MariaDB sessions read SQL as the standard has it ("..." a name,
# no backslash escapes); vexil's connections keep the server's default, where
# a backslash in a literal is an escape. ODBC: ODBCSYSINI/ODBCINI, else odbc/ beside the binary.
# Phases (default ABCD), each on the table as the previous one left it:
#   A input fields posted unchanged to a TEMPLATE page leave the table unchanged;
#   B one field changed, default template: exactly that change reaches the table;
#   C a text area posted unchanged to a FILE page leaves the table unchanged;
#   D KEY list of 40 columns: an error and no form, or the post changes its own
#     row only, not the one differing in the last key only.
# Stored texts: both quote kinds, & < >, literal &amp; &lt; &#38;, backslashes
# (one before a quote too), UTF-8, an empty value. Browser reading: named INPUTs (no buttons, unchecked
# boxes skipped) and TEXTAREAs in page order; character references decoded; a
# text area drops the newline after its start tag and sends CR LF line breaks.
# Exit: 0 pass, 1 fail, 77 missing tool or server (fail if VEXIL_REQUIRE_ALL=1).
set -uo pipefail
export LC_ALL=C
fail() { echo "FAIL: $*"; exit 1; }
skip() { [[ "${VEXIL_REQUIRE_ALL:-}" == 1 ]] && fail "$1 (VEXIL_REQUIRE_ALL=1 does not allow skipping)"; echo "SKIP: $1"; exit 77; }
usage() { fail "usage: $0 [--locked] [--phases LETTERS] <vexil binary> sqlite|postgresql|mariadb [settings file]"; }
phases=ABCD locked=
[[ "${1:-}" == --locked ]] && { locked=1; shift; }
[[ "${1:-}" == --phases ]] && { [[ $# -ge 2 && "$2" =~ ^[ABCD]+$ ]] || usage; phases=$2; shift 2; }
[[ $# -ge 2 && $# -le 3 ]] || usage
binary=$1 backend=$2
[[ "$backend" == sqlite || "$backend" == postgresql || "$backend" == mariadb ]] || usage
if [[ "$backend" == mariadb ]]; then settings=${3:-${VEXIL_TEST_MARIA_ENV:-}}; else settings=${3:-${VEXIL_TEST_PG_ENV:-}}; fi
[[ -f "$binary" && -x "$binary" ]] || fail "not an executable file: $binary"
bindir=$(cd "$(dirname "$binary")" && pwd -P) && binary=$bindir/$(basename "$binary")
for tool in awk sed cmp mktemp; do command -v $tool >/dev/null || skip "$tool is not installed"; done
[[ -z "${ODBCSYSINI:-}" && -f "$bindir/odbc/odbcinst.ini" ]] && export ODBCSYSINI=$bindir/odbc ODBCINI=$bindir/odbc/odbc.ini
setting() { sed -n "s/^$1=//p" "$settings" 2>/dev/null | head -n 1; }
pg_database= maria_database= passed=0
if [[ "$backend" == sqlite ]]; then
  command -v sqlite3 >/dev/null || skip "sqlite3 is not installed"
elif [[ "$backend" == mariadb ]]; then
  [[ -n "$settings" ]] || skip "no MariaDB test server: no settings file and VEXIL_TEST_MARIA_ENV is not set"
  maria_port=$(setting port)
  [[ -n "$maria_port" ]] || skip "no MariaDB test server: $settings does not exist or names no port"
  maria_host=$(setting host) maria_user=$(setting user) mariadb=$(setting client)
  maria_host=${maria_host:-127.0.0.1} maria_user=${maria_user:-vexil}
  [[ -n "$mariadb" && -x "$mariadb" ]] || mariadb=$(command -v mariadb) || skip "the mariadb client is not installed"
  maria_database=vx_roundtrip_$$_$RANDOM
else
  [[ -n "$settings" ]] || skip "no PostgreSQL test server: no settings file and VEXIL_TEST_PG_ENV is not set"
  pg_port=$(setting port)
  [[ -n "$pg_port" ]] || skip "no PostgreSQL test server: $settings does not exist or names no port"
  pg_host=$(setting host) pg_user=$(setting user) pg_bindir=$(setting bindir)
  pg_host=${pg_host:-127.0.0.1} pg_user=${pg_user:-postgres} psql=$pg_bindir/psql
  [[ -n "$pg_bindir" && -x "$psql" ]] || psql=$(command -v psql) || skip "psql is not installed"
  pg_database=vx_roundtrip_$$_$RANDOM
fi
work=$(mktemp -d "${TMPDIR:-/tmp}/vexil-roundtrip.XXXXXX") || fail "mktemp failed"
dsn="DRIVER=SQLite3;Database=$work/test.db"
[[ -n "$pg_database" ]] && dsn="DRIVER=PostgreSQL ANSI;Servername=$pg_host;Port=$pg_port;Database=$pg_database;Username=$pg_user;Password=;SSLmode=disable"
[[ -n "$maria_database" ]] && dsn="DRIVER=MariaDB;Server=$maria_host;Port=$maria_port;Database=$maria_database;User=$maria_user;Password=;CHARSET=utf8mb4;OPTION=2"
run_psql() { # DATABASE [OPTIONS...]: the SQL on standard input
  PGCONNECT_TIMEOUT=10 PGCLIENTENCODING=UTF8 PGOPTIONS="-c client_min_messages=warning" \
    "$psql" -X -q -v ON_ERROR_STOP=1 -h "$pg_host" -p "$pg_port" -U "$pg_user" -d "$@" -f -
}
run_maria() { # DATABASE: the SQL on standard input; rows out, values separated by tabs
  "$mariadb" --no-defaults --batch --raw --skip-column-names --default-character-set=utf8mb4 \
    --connect-timeout=10 --init-command="SET sql_mode = CONCAT(@@sql_mode, ',ANSI_QUOTES,PIPES_AS_CONCAT,NO_BACKSLASH_ESCAPES')" \
    -h "$maria_host" -P "$maria_port" -u "$maria_user" -D "$1"
}
run_sql() { # SQL on standard input; rows out, values separated by "|"
  case $backend in
    sqlite) sqlite3 -bail -batch -separator '|' "$work/test.db" ;;
    postgresql) run_psql "$pg_database" -A -t -F '|' ;;
    mariadb) run_maria "$maria_database" | tr '\t' '|'; return "${PIPESTATUS[0]}" ;;
  esac
}
sql_to() { run_sql >"$1" 2>"$1.err" || { cat "$1.err"; fail "$2 failed"; }; } # FILE WHAT: SQL on stdin, rows into FILE
on_exit() {
  [[ -n "$pg_database" ]] && echo "DROP DATABASE IF EXISTS $pg_database WITH (FORCE);" | run_psql postgres >/dev/null 2>&1
  [[ -n "$maria_database" ]] && echo "DROP DATABASE IF EXISTS $maria_database;" | run_maria mysql >/dev/null 2>&1
  if [[ $passed -eq 1 ]]; then rm -rf "$work"; else echo "Files kept: $work"; fi
}
trap on_exit EXIT
[[ -n "$pg_database" ]] && { echo "CREATE DATABASE $pg_database;" | run_psql postgres >"$work/create.log" 2>&1 || { cat "$work/create.log"; fail "cannot create database $pg_database on $pg_host:$pg_port"; }; }
[[ -n "$maria_database" ]] && { echo "CREATE DATABASE $maria_database;" | run_maria mysql >"$work/create.log" 2>&1 || { cat "$work/create.log"; fail "cannot create database $maria_database on $maria_host:$maria_port"; }; }

cafe=$'caf\xc3\xa9' cup=$'\xe2\x98\x95' naive=$'na\xc3\xafve' uber=$'\xc3\xbcber'
title1="O''Brien & \"Sons\" <b>bold</b> &amp; C:\\dir $cafe $cup $naive"
code1="K&<1>\"q\"'' $uber"
body1="Body: a & b <c> \"d\" ''e'' &lt; &#38; C:\\temp $uber"
keys=$(seq -f 'key_column_%02g' -s ', ' 1 40)
ones=$(printf '1, %.0s' $(seq 40))
sql_to "$work/schema.log" "loading the tables" <<EOF
CREATE TABLE item (id INTEGER, code VARCHAR(40), title VARCHAR(200), note VARCHAR(200), body VARCHAR(1000));
INSERT INTO item VALUES (1, '$code1', '$title1', '', '$body1');
INSERT INTO item VALUES (2, 'K2', 'second "row" & <more>', 'C:\\temp\\new', 'b2');
INSERT INTO item VALUES (3, '$code1', 'same code, other id', 'n3', 'b3');
CREATE TABLE keys40 (${keys//,/ INTEGER,} INTEGER, val VARCHAR(20));
INSERT INTO keys40 VALUES (${ones}'one');
INSERT INTO keys40 VALUES (${ones%1, }2, 'two');
EOF
item_query="SELECT id, code, title, note, body FROM item ORDER BY id;"
keys_query="SELECT key_column_01, key_column_40, val FROM keys40 ORDER BY key_column_40;"

page() { # FILE SELECT ARGS: a locked site's page names its database itself
  local database=; [[ -n $locked ]] && database="<!--DATABASE $dsn-->"
  printf '<HTML><BODY>%s\n<!--SQL %s-->\n<!--UPDATEFORM %s-->\n</BODY></HTML>\n' "$database" "$2" "$3" >"$work/$1"
}
page form_a.htm "SELECT id, code, title, note FROM item ORDER BY id" "TABLE=item, KEY=(id, 'code'), 'title:80', 'note', TEMPLATE=done.htm"
# A locked site offers no built-in page to post to: B and D post to a page of its own.
form_b_target=; [[ -n $locked ]] && form_b_target=", TEMPLATE=done.htm"
page form_b.htm "SELECT id, code, title, note FROM item ORDER BY id" "TABLE=item, KEY=(id, 'code'), 'title:80', 'note'$form_b_target"
page form_c.htm "SELECT id, code, body FROM item ORDER BY id" "TABLE=item, KEY=(id, 'code'), 'body:300', FILE=done.htm"
page form_d.htm "SELECT * FROM keys40 WHERE key_column_40 = 1" "TABLE=keys40, KEY=($keys), 'val'$form_b_target"
printf '<!--SQL $sql$-->\nResult: [$sql_status$] [$sql_result$]\n' >"$work/done.htm"
printf 'a site key of forty characters, fixed...' >"$work/site.key"

run_vexil() { # NAME VAR=VALUE...: own environment, stdin NAME.in if any; NAME.out/.err
  local name=$1 env=(PATH="$PATH" VEXIL_OPEN=1) var input=/dev/null; shift
  [[ -n $locked ]] && env=(PATH="$PATH" VEXIL_TEMPLATE_ROOT="$work" VEXIL_SECRET_FILE="$work/site.key")
  for var in ODBCSYSINI ODBCINI ASAN_OPTIONS UBSAN_OPTIONS LSAN_OPTIONS; do [[ -n "${!var:-}" ]] && env+=("$var=${!var}"); done
  [[ -f "$work/$name.in" ]] && input=$work/$name.in
  (cd "$work" && env -i "${env[@]}" "$@" "$binary" <"$input" >"$name.out" 2>"$name.err")
  local rc=$?; [[ $rc -eq 0 ]] || { cat "$work/$name.out" "$work/$name.err"; fail "$name: vexil exited with $rc"; }
  # (a failed allocation under allocator_may_return_null=1 is not an error)
  if grep -vE '^(==[0-9]+==)?WARNING: AddressSanitizer failed to allocate 0x[0-9a-f]+ bytes$' \
      "$work/$name.err" | grep -q .; then cat "$work/$name.err"; fail "$name: vexil wrote to standard error"; fi
}

# Reads the first form of a CGI response; prints the urlencoded body and writes
# "name=[value]" lines to the file `fields`. RT_SET_NAME/RT_SET_VALUE replace a field.
cat >"$work/form.awk" <<'EOF'
function die(m) { print "form: " m > "/dev/stderr"; failed = 1; exit 2 }
function utf8(n) { return n < 128 ? sprintf("%c", n) : n < 2048 ? sprintf("%c%c", 192 + int(n / 64), 128 + n % 64) : \
  n < 65536 ? sprintf("%c%c%c", 224 + int(n / 4096), 128 + int(n / 64) % 64, 128 + n % 64) : \
  sprintf("%c%c%c%c", 240 + int(n / 262144), 128 + int(n / 4096) % 64, 128 + int(n / 64) % 64, 128 + n % 64) }
function decode(s,    out, r, n, i) {  # named, decimal and hex references ending in ";"
  while (match(s, /&(#[0-9]+|#[xX][0-9a-fA-F]+|[A-Za-z]+);/)) {
    r = substr(s, RSTART + 1, RLENGTH - 2); out = out substr(s, 1, RSTART - 1)
    if (r ~ /^#[xX]/) { n = 0; for (i = 3; i <= length(r); i++) n = n * 16 + index("0123456789abcdef", tolower(substr(r, i, 1))) - 1 }
    else n = r ~ /^#/ ? substr(r, 2) + 0 : -1
    out = out (n >= 0 ? utf8(n) : (r in named) ? named[r] : "&" r ";")
    s = substr(s, RSTART + RLENGTH)
  }
  return out s
}
function enc(s,    out, c) {
  while (s != "") { c = substr(s, 1, 1); s = substr(s, 2); out = out (c ~ /[A-Za-z0-9*._-]/ ? c : c == " " ? "+" : sprintf("%%%02X", ord[c])) }
  return out
}
function attributes(s,    n, v, len) {  # a start tag's attributes into attr[]; returns its length
  split("", attr); len = length(s)
  while (match(s, /^[ \t\r\n\f\/]*[^ \t\r\n\f\/>=][^ \t\r\n\f\/>=]*/)) {
    n = toupper(substr(s, RSTART, RLENGTH)); sub(/^[ \t\r\n\f\/]*/, "", n)
    s = substr(s, RSTART + RLENGTH); v = ""
    if (match(s, /^[ \t\r\n\f]*=[ \t\r\n\f]*("[^"]*"|'[^']*'|[^ \t\r\n\f>]*)/)) {
      v = substr(s, RSTART, RLENGTH); s = substr(s, RSTART + RLENGTH)
      sub(/^[ \t\r\n\f]*=[ \t\r\n\f]*/, "", v)
      if (v ~ /^["']/) v = substr(v, 2, length(v) - 2)
    }
    if (!(n in attr)) attr[n] = decode(v)
  }
  if (!match(s, /^[ \t\r\n\f\/]*>/)) die("malformed start tag")
  return len - length(s) + RLENGTH
}
function add(n, v) { # one field, or RT_SET_VALUE in place of the field RT_SET_NAME
  if (n == ENVIRON["RT_SET_NAME"]) { v = ENVIRON["RT_SET_VALUE"]; replaced++ }
  print n "=[" v "]" > fields; body = body (count++ ? "&" : "") enc(n) "=" enc(v) }
BEGIN {
  for (i = 1; i < 256; i++) ord[sprintf("%c", i)] = i
  named["amp"] = "&"; named["lt"] = "<"; named["gt"] = ">"; named["quot"] = "\""; named["apos"] = "'"; named["nbsp"] = utf8(160)
}
{ page = page $0 "\n" }
END {
  if (failed) exit 2
  if (!(p = index(page, "\n\n"))) die("no CGI header")
  page = substr(page, p + 2); up = toupper(page)
  if (!(p = index(up, "<FORM"))) die("the page has no form")
  form = substr(page, p); up = substr(up, p)
  if (!(p = index(up, "</FORM"))) die("the first form has no end")
  form = substr(form, 1, p - 1); up = substr(up, 1, p - 1)
  while (match(up, /<(INPUT|TEXTAREA)[ \t\r\n\f\/>]/)) {
    tag = substr(up, RSTART + 1, 5) == "INPUT" ? "INPUT" : "TEXTAREA"; p = RSTART + 1 + length(tag)
    p += attributes(substr(form, p))
    form = substr(form, p); up = substr(up, p)
    if (attr["NAME"] == "") continue
    if (tag == "INPUT") {
      t = toupper(attr["TYPE"]); v = attr["VALUE"]
      if (t ~ /^(SUBMIT|RESET|BUTTON|IMAGE)$/ || (t ~ /^(CHECKBOX|RADIO)$/ && !("CHECKED" in attr))) continue
      if (t == "" || t == "TEXT") gsub(/[\r\n]/, "", v)
    } else {
      if (!(p = index(up, "</TEXTAREA"))) die("a text area without its end tag")
      v = substr(form, 1, p - 1); sub(/^\n/, "", v); v = decode(v)
      gsub(/\r\n|\r/, "\n", v); gsub(/\n/, "\r\n", v)
    }
    add(attr["NAME"], v)
  }
  if (!count) die("the first form has no fields")
  if (ENVIRON["RT_SET_NAME"] != "" && replaced != 1) die(replaced + 0 " fields named " ENVIRON["RT_SET_NAME"])
  printf "%s", body
}
EOF

render() { # NAME TEMPLATE [any]: CGI GET; fails on an error page unless "any"
  local query="input=$2"
  [[ -z $locked ]] && query+="&database=$(printf '%s' "$dsn" | sed 's/%/%25/g; s/&/%26/g; s/+/%2B/g; s/ /+/g')"
  run_vexil "$1" REQUEST_METHOD=GET SCRIPT_NAME=/cgi-bin/vexil "QUERY_STRING=$query"
  [[ "${3:-}" != any ]] && grep -q 'Vexil Error' "$work/$1.out" &&
    { cat "$work/$1.out"; fail "$1: rendering the form reported an error"; }
  return 0
}
post() { # NAME PAGE FIELD...: posts the first form of PAGE.out, which must have the FIELDs
  local name=$1 page=$2 f; shift 2
  awk -v fields="$work/$name.fields" -f "$work/form.awk" "$work/$page.out" >"$work/$name.in" ||
    fail "$name: the form of $page.out could not be read"
  for f in "$@"; do grep -q "^$f=\[" "$work/$name.fields" || { cat "$work/$name.fields"; fail "$name: the form has no field $f"; }; done
  run_vexil "$name" REQUEST_METHOD=POST CONTENT_TYPE=application/x-www-form-urlencoded \
    "CONTENT_LENGTH=$(($(wc -c <"$work/$name.in")))"
}
check() { # LABEL NAME EXPECTED-ROWS [QUERY]: the table after post NAME must match
  echo "${4:-$item_query}" | sql_to "$work/$2.rows" "dumping the table"
  cmp -s "$3" "$work/$2.rows" && return 0
  echo "--- expected rows ($3)"; cat -A "$3"; echo "--- actual rows"; cat -A "$work/$2.rows"; echo "--- posted fields"; cat -A "$work/$2.fields"
  fail "$1"
}
expected() { # FILE QUERY UPDATE: rows after UPDATE, computed in a rolled-back transaction
  printf 'BEGIN;\n%s\n%s\nROLLBACK;\n' "$3" "$2" | sql_to "$1" "computing the expected rows"
}

unchanged() { # L WHAT FIELD...: post the form of page L unchanged; table unchanged
  local l=$1 what=$2; shift 2
  render page_$l form_$l.htm
  echo "$item_query" | sql_to "$work/${l}_before.rows" "dumping the table"
  post post_$l page_$l input "$@" database sql
  grep -qF "Result: [1] [1 row affected.]" "$work/post_$l.out" || { cat "$work/post_$l.out"; fail "post_$l: no \"1 row affected\""; }
  check "${l^}: posting the $what unchanged changed the table" post_$l "$work/${l}_before.rows"
}
phase_a() { unchanged a "input fields" id code title note; }
phase_c() { unchanged c "text area" id code body; }
phase_b() {
  local t="New <title> & \"q\" 'x' $cafe &amp; C:\\new\\' end\\"
  render page_b form_b.htm
  expected "$work/b_expected.rows" "$item_query" "UPDATE item SET title = '${t//\'/\'\'}' WHERE id = 1;"
  grep -q "^1|[^|]*|New <title>" "$work/b_expected.rows" || fail "the expected rows of B lack the change"
  RT_SET_NAME=title RT_SET_VALUE=$t post post_b page_b id code title note database sql
  grep -qE 'Vexil Error|DATABASE ERROR' "$work/post_b.out" && { cat "$work/post_b.out"; fail "B: the default template reported an error"; }
  check "B: the change of one field did not reach the table exactly" post_b "$work/b_expected.rows"
}
phase_d() {
  render page_d form_d.htm any
  grep -qi '<FORM' "$work/page_d.out" || { grep -q 'Vexil Error' "$work/page_d.out" && return 0 # no form: only with a clear message
    cat "$work/page_d.out"; fail "D: neither a form nor an error message"; }
  expected "$work/d_expected.rows" "$keys_query" "UPDATE keys40 SET val = 'changed' WHERE key_column_40 = 1;"
  grep -qx "1|1|changed" "$work/d_expected.rows" || fail "the expected rows of D lack the change"
  RT_SET_NAME=val RT_SET_VALUE=changed post post_d page_d key_column_01 key_column_40 val database sql
  check "D: posting the form of one row changed other rows or not that row" post_d "$work/d_expected.rows" "$keys_query"
}

failures=() # each phase in a subshell, so that a failing one does not stop the others
for phase in A B C D; do [[ "$phases" != *$phase* ]] || (phase_${phase,,}) || failures+=("$phase"); done
[[ ${#failures[@]} -eq 0 ]] || fail "update form round trip ($backend): phase(s) ${failures[*]} failed"
passed=1
echo "PASS: update form round trip ($backend), phases $phases"
