#!/usr/bin/env bash
# Round trip of an update form: renders a page with UPDATEFORM as a CGI GET,
# reads the first form's fields the way a browser does, posts them back to
# vexil as a CGI POST and compares the table before and after.
#
# Usage: update_roundtrip.sh [--phases LETTERS] <vexil binary> sqlite
#        update_roundtrip.sh [--phases LETTERS] <vexil binary> postgresql [SETTINGS FILE]
#
# For postgresql the server settings (host=, port=, user=, bindir= lines, as
# tests/db/pg_server.sh writes them) come from SETTINGS FILE, else from the
# file that VEXIL_TEST_PG_ENV names. The test creates a database of its own on
# that server and drops it at the end.
#
# The ODBC driver configuration comes from ODBCSYSINI and ODBCINI as CTest
# sets them; when ODBCSYSINI is not set, the odbc/ directory beside the binary
# (the build directory's) is used if it has an odbcinst.ini.
#
# Phases (all of them unless --phases names some, as in --phases AB), each on
# the table as the previous one left it:
#   A  input fields only, receiving page named by TEMPLATE: posting the form
#      unchanged leaves the table unchanged (and the UPDATE did run);
#   B  the same form, received by the built-in default template, with one
#      field changed: exactly that change reaches the table;
#   C  a text area, receiving page named by FILE: posting the form unchanged
#      leaves the table unchanged;
#   D  a KEY list of 40 names of 13 characters (a WHERE clause of 1362
#      bytes): either no form is written and an error is reported, or the
#      form's statement names every key, so that posting the form with a
#      changed value changes only its own row, not the row that differs from
#      it in the last key only.
# The stored texts hold single and double quotes, "&", "<", ">", a literal
# "&amp;" and "&lt;", a backslash, non-ASCII UTF-8 bytes and an empty value.
#
# Reading the form like a browser: the fields are the INPUT elements with a
# NAME (buttons excluded) and the TEXTAREA elements of the first FORM, in the
# order of the page. Character references in attribute values and in text
# area content are decoded; a text area's content loses the one newline right
# after its start tag, and its line breaks are sent as CR LF. The fields are
# encoded as application/x-www-form-urlencoded.
#
# Exit status: 0 pass, 1 fail, 77 skipped because a needed tool (sqlite3,
# psql) or the PostgreSQL test server is missing (a failure instead when
# VEXIL_REQUIRE_ALL=1, so that a CI run cannot pass by skipping).
set -uo pipefail
export LC_ALL=C

fail() {
  echo "FAIL: $*"
  exit 1
}

skip() {
  if [[ "${VEXIL_REQUIRE_ALL:-}" == 1 ]]; then
    fail "$1 (VEXIL_REQUIRE_ALL=1 does not allow skipping)"
  fi
  echo "SKIP: $1"
  exit 77
}

usage() {
  fail "usage: $0 [--phases LETTERS] <vexil binary> sqlite|postgresql [settings file]"
}

phases=ABCD
if [[ "${1:-}" == --phases ]]; then
  [[ $# -ge 2 && "$2" =~ ^[ABCD]+$ ]] || usage
  phases=$2
  shift 2
fi
[[ $# -ge 2 && $# -le 3 ]] || usage
binary=$1
backend=$2
settings=${3:-${VEXIL_TEST_PG_ENV:-}}
case "$backend" in sqlite | postgresql) ;; *) usage ;; esac
[[ -f "$binary" && -x "$binary" ]] || fail "not an executable file: $binary"
binary=$(cd "$(dirname "$binary")" && pwd -P)/$(basename "$binary")
for tool in awk sed cmp mktemp; do
  command -v "$tool" >/dev/null 2>&1 || skip "$tool is not installed"
done

if [[ -z "${ODBCSYSINI:-}" && -f "$(dirname "$binary")/odbc/odbcinst.ini" ]]; then
  ODBCSYSINI=$(dirname "$binary")/odbc
  ODBCINI=$ODBCSYSINI/odbc.ini
  export ODBCSYSINI ODBCINI
fi

# --- The database -------------------------------------------------------------

# setting NAME: the value of NAME= in the settings file.
setting() {
  sed -n "s/^$1=//p" "$settings" 2>/dev/null | head -n 1
}

if [[ "$backend" == sqlite ]]; then
  sqlite3=$(command -v sqlite3) || skip "sqlite3 is not installed"
else
  [[ -n "$settings" ]] || skip "no PostgreSQL test server: no settings file and VEXIL_TEST_PG_ENV is not set"
  pg_port=$(setting port)
  [[ -n "$pg_port" ]] || skip "no PostgreSQL test server: $settings does not exist or names no port"
  pg_host=$(setting host)
  pg_host=${pg_host:-127.0.0.1}
  pg_user=$(setting user)
  pg_user=${pg_user:-postgres}
  pg_bindir=$(setting bindir)
  if [[ -n "$pg_bindir" && -x "$pg_bindir/psql" ]]; then
    psql=$pg_bindir/psql
  else
    psql=$(command -v psql) || skip "psql is not installed"
  fi
fi

work=$(mktemp -d "${TMPDIR:-/tmp}/vexil-roundtrip.XXXXXX") || fail "mktemp failed"
passed=0
pg_database=
if [[ "$backend" == sqlite ]]; then
  db_file=$work/test.db
  dsn="DRIVER=SQLite3;Database=$db_file"
else
  pg_database=vx_roundtrip_$$_$RANDOM
  dsn="DRIVER=PostgreSQL ANSI;Servername=$pg_host;Port=$pg_port;Database=$pg_database;Username=$pg_user;Password=;SSLmode=disable"
fi

# run_psql DATABASE [OPTIONS...]: runs the SQL on standard input.
run_psql() {
  local database=$1
  shift
  PGCONNECT_TIMEOUT=10 PGCLIENTENCODING=UTF8 PGOPTIONS="-c client_min_messages=warning" \
    "$psql" -X -q -v ON_ERROR_STOP=1 -h "$pg_host" -p "$pg_port" -U "$pg_user" \
    -d "$database" "$@" -f -
}

# run_sql: runs the SQL script on standard input in the test database and
# prints the rows of its queries, one line per row, values separated by "|".
run_sql() {
  if [[ "$backend" == sqlite ]]; then
    "$sqlite3" -bail -batch -separator '|' "$db_file"
  else
    run_psql "$pg_database" -A -t -F '|'
  fi
}

# shellcheck disable=SC2317  # called through the EXIT trap
on_exit() {
  if [[ -n "$pg_database" ]]; then
    echo "DROP DATABASE IF EXISTS $pg_database WITH (FORCE);" | run_psql postgres >/dev/null 2>&1
  fi
  if [[ $passed -eq 1 ]]; then
    rm -rf "$work"
  else
    echo "Files kept: $work"
  fi
}
trap on_exit EXIT

if [[ "$backend" == postgresql ]]; then
  echo "CREATE DATABASE $pg_database;" | run_psql postgres >"$work/create.log" 2>&1 ||
    { cat "$work/create.log"; fail "cannot create database $pg_database on $pg_host:$pg_port"; }
fi

# Texts that HTML, SQL or the URL encoding could change on the way.
cafe=$'caf\xc3\xa9'                  # café
cup=$'\xe2\x98\x95'                  # hot beverage, three bytes
naive=$'na\xc3\xafve'                # naïve
uber=$'\xc3\xbcber'                  # über
title1="O''Brien & \"Sons\" <b>bold</b> &amp; C:\\dir $cafe $cup $naive"
code1="K&<1>\"q\"'' $uber"
body1="Body: a & b <c> \"d\" ''e'' &lt; &#38; C:\\temp $uber"

cat >"$work/schema.sql" <<EOF
CREATE TABLE item (id INTEGER, code VARCHAR(40), title VARCHAR(200), note VARCHAR(200), body VARCHAR(1000));
INSERT INTO item VALUES (1, '$code1', '$title1', '', '$body1');
INSERT INTO item VALUES (2, 'K2', 'second "row" & <more>', 'C:\\temp\\new', 'b2');
INSERT INTO item VALUES (3, '$code1', 'same code, other id', 'n3', 'b3');
EOF
run_sql <"$work/schema.sql" >"$work/schema.log" 2>&1 ||
  { cat "$work/schema.log"; fail "loading the table failed"; }

# A table with 40 key columns: two rows that differ in the last key only.
key_list=
key_columns=
key_values=
for i in $(seq -w 1 40); do
  key_list+="${key_list:+, }key_column_$i"
  key_columns+="key_column_$i INTEGER, "
  key_values+="1, "
done
{
  echo "CREATE TABLE keys40 (${key_columns}val VARCHAR(20));"
  echo "INSERT INTO keys40 VALUES (${key_values}'one');"
  echo "INSERT INTO keys40 VALUES (${key_values%1, }2, 'two');"
} >"$work/keys.sql"
run_sql <"$work/keys.sql" >"$work/keys.log" 2>&1 ||
  { cat "$work/keys.log"; fail "loading the table keys40 failed"; }

readonly dump_query="SELECT id, code, title, note, body FROM item ORDER BY id;"
readonly keys_query="SELECT key_column_01, key_column_40, val FROM keys40 ORDER BY key_column_40;"

# dump FILE [QUERY]: writes the rows of the table item (or of QUERY) into FILE.
dump() {
  echo "${2:-$dump_query}" | run_sql >"$1" 2>"$1.err" ||
    { cat "$1.err"; fail "dumping the table failed"; }
}

# --- Running vexil ------------------------------------------------------------

cat >"$work/form_a.htm" <<'EOF'
<HTML><BODY>
<!--SQL SELECT id, code, title, note FROM item ORDER BY id-->
<!--UPDATEFORM TABLE=item, KEY=(id, 'code'), 'title:80', 'note', TEMPLATE=done.htm-->
</BODY></HTML>
EOF
cat >"$work/form_b.htm" <<'EOF'
<HTML><BODY>
<!--SQL SELECT id, code, title, note FROM item ORDER BY id-->
<!--UPDATEFORM TABLE=item, KEY=(id, 'code'), 'title:80', 'note'-->
</BODY></HTML>
EOF
cat >"$work/form_c.htm" <<'EOF'
<HTML><BODY>
<!--SQL SELECT id, code, body FROM item ORDER BY id-->
<!--UPDATEFORM TABLE=item, KEY=(id, 'code'), 'body:300', FILE=done.htm-->
</BODY></HTML>
EOF
{
  echo "<HTML><BODY>"
  echo "<!--SQL SELECT * FROM keys40 WHERE key_column_40 = 1-->"
  echo "<!--UPDATEFORM TABLE=keys40, KEY=($key_list), 'val'-->"
  echo "</BODY></HTML>"
} >"$work/form_d.htm"
cat >"$work/done.htm" <<'EOF'
<!--SQL $sql$-->
Result: [$sql_status$] [$sql_result$]
EOF

# run_vexil NAME [VAR=VALUE...]: runs vexil in the work directory with an
# environment of its own (the variables given plus what the ODBC driver
# manager and the sanitizers need), standard input from NAME.in when it
# exists; output in NAME.out and NAME.err. Fails on a non-zero exit code or
# anything on standard error.
run_vexil() {
  local name=$1
  shift
  local env=(PATH="$PATH")
  local var
  for var in ODBCSYSINI ODBCINI ASAN_OPTIONS UBSAN_OPTIONS LSAN_OPTIONS; do
    [[ -n "${!var:-}" ]] && env+=("$var=${!var}")
  done
  local input=/dev/null
  [[ -f "$work/$name.in" ]] && input=$work/$name.in
  (cd "$work" && env -i "${env[@]}" "$@" "$binary" <"$input" >"$work/$name.out" 2>"$work/$name.err")
  local rc=$?
  [[ $rc -eq 0 ]] || { cat "$work/$name.out" "$work/$name.err"; fail "$name: vexil exited with $rc"; }
  # The AddressSanitizer note about an allocation that failed under
  # allocator_may_return_null=1 is not an error.
  if grep -v -E '^(==[0-9]+==)?WARNING: AddressSanitizer failed to allocate 0x[0-9a-f]+ bytes$' \
      "$work/$name.err" | grep -q .; then
    cat "$work/$name.err"
    fail "$name: vexil wrote to standard error"
  fi
}

# The awk program that reads the first form of a page and prints its fields
# as an application/x-www-form-urlencoded body. With RT_SET_NAME set, the
# field of that name gets the value RT_SET_VALUE instead. The decoded fields
# go to the file named by the variable fields, one "name=[value]" a line.
cat >"$work/form_fields.awk" <<'EOF'
function die(message) {
  print "form_fields: " message > "/dev/stderr"
  failed = 1
  exit 2
}

# The UTF-8 bytes of code point n.
function utf8(n) {
  if (n < 128) return sprintf("%c", n)
  if (n < 2048) return sprintf("%c%c", 192 + int(n / 64), 128 + n % 64)
  if (n < 65536)
    return sprintf("%c%c%c", 224 + int(n / 4096), 128 + int(n / 64) % 64, 128 + n % 64)
  return sprintf("%c%c%c%c", 240 + int(n / 262144), 128 + int(n / 4096) % 64,
                 128 + int(n / 64) % 64, 128 + n % 64)
}

# Decodes the character references of s (named ones that end with ";",
# decimal and hexadecimal ones); anything else stays as it is.
function decode(s,    out, p, rest, semi, ref, n, i, c, hex) {
  out = ""
  while ((p = index(s, "&")) > 0) {
    out = out substr(s, 1, p - 1)
    rest = substr(s, p + 1)
    semi = index(rest, ";")
    ref = semi > 1 ? substr(rest, 1, semi - 1) : ""
    if (ref in named) {
      out = out named[ref]
      s = substr(rest, semi + 1)
    } else if (ref ~ /^#[0-9]+$/) {
      out = out utf8(substr(ref, 2) + 0)
      s = substr(rest, semi + 1)
    } else if (ref ~ /^#[xX][0-9a-fA-F]+$/) {
      n = 0
      hex = "0123456789abcdef"
      for (i = 3; i <= length(ref); i++) {
        c = tolower(substr(ref, i, 1))
        n = n * 16 + index(hex, c) - 1
      }
      out = out utf8(n)
      s = substr(rest, semi + 1)
    } else {
      out = out "&"
      s = rest
    }
  }
  return out s
}

function urlencode(s,    out, i, c) {
  out = ""
  for (i = 1; i <= length(s); i++) {
    c = substr(s, i, 1)
    if (c ~ /[A-Za-z0-9*._-]/) out = out c
    else if (c == " ") out = out "+"
    else out = out sprintf("%%%02X", ord[c])
  }
  return out
}

function is_space(c) {
  return c == " " || c == "\t" || c == "\n" || c == "\r" || c == "\f"
}

# Reads the attributes of the start tag whose name ends before position p of
# the form text; fills attr[] (names in upper case, values decoded) and
# returns the position just after the tag's ">".
function read_attributes(p,    c, name, value, q, end_q) {
  for (name in attr) delete attr[name]
  while (p <= form_len) {
    c = substr(form, p, 1)
    if (is_space(c) || c == "/") { p++; continue }
    if (c == ">") return p + 1
    name = ""
    while (p <= form_len) {
      c = substr(form, p, 1)
      if (is_space(c) || c == "/" || c == ">" || (c == "=" && name != "")) break
      name = name c
      p++
    }
    while (p <= form_len && is_space(substr(form, p, 1))) p++
    value = ""
    if (substr(form, p, 1) == "=") {
      p++
      while (p <= form_len && is_space(substr(form, p, 1))) p++
      q = substr(form, p, 1)
      if (q == "\"" || q == "'") {
        end_q = index(substr(form, p + 1), q)
        if (end_q == 0) die("attribute value without its closing quote")
        value = substr(form, p + 1, end_q - 1)
        p += end_q + 1
      } else {
        while (p <= form_len) {
          c = substr(form, p, 1)
          if (is_space(c) || c == ">") break
          value = value c
          p++
        }
      }
    }
    name = toupper(name)
    if (!(name in attr)) attr[name] = decode(value)
  }
  die("start tag without its \">\"")
}

function add_field(name, value) {
  if (name == ENVIRON["RT_SET_NAME"] && ENVIRON["RT_SET_NAME"] != "") {
    value = ENVIRON["RT_SET_VALUE"]
    replaced++
  }
  print name "=[" value "]" > fields
  body = body (body == "" ? "" : "&") urlencode(name) "=" urlencode(value)
  count++
}

BEGIN {
  for (i = 1; i < 256; i++) ord[sprintf("%c", i)] = i
  named["amp"] = "&"; named["lt"] = "<"; named["gt"] = ">"
  named["quot"] = "\""; named["apos"] = "'"; named["nbsp"] = utf8(160)
}

{ page = page $0 "\n" }

END {
  if (failed) exit 2
  # The CGI header ends at the first empty line.
  p = index(page, "\n\n")
  if (p == 0) die("no CGI header")
  page = substr(page, p + 2)
  upper = toupper(page)
  start = index(upper, "<FORM")
  if (start == 0) die("the page has no form")
  stop = index(substr(upper, start), "</FORM")
  if (stop == 0) die("the first form has no end")
  form = substr(page, start, stop - 1)
  form_upper = substr(upper, start, stop - 1)
  form_len = length(form)
  body = ""
  p = 1
  while (p <= form_len) {
    lt = index(substr(form_upper, p), "<")
    if (lt == 0) break
    p += lt - 1
    tag = ""
    if (substr(form_upper, p + 1, 5) == "INPUT") tag = "INPUT"
    else if (substr(form_upper, p + 1, 8) == "TEXTAREA") tag = "TEXTAREA"
    after = substr(form, p + 1 + length(tag), 1)
    if (tag == "" || !(is_space(after) || after == ">" || after == "/")) { p++; continue }
    p = read_attributes(p + 1 + length(tag))
    if (!("NAME" in attr) || attr["NAME"] == "") continue
    if (tag == "INPUT") {
      type = toupper(attr["TYPE"])
      if (type == "SUBMIT" || type == "RESET" || type == "BUTTON" || type == "IMAGE") continue
      if ((type == "CHECKBOX" || type == "RADIO") && !("CHECKED" in attr)) continue
      value = attr["VALUE"]
      if (type == "" || type == "TEXT") gsub(/[\r\n]/, "", value)
      add_field(attr["NAME"], value)
    } else {
      close_at = index(substr(form_upper, p), "</TEXTAREA")
      if (close_at == 0) die("a text area without its end tag")
      content = substr(form, p, close_at - 1)
      p += close_at - 1
      if (substr(content, 1, 1) == "\n") content = substr(content, 2)
      content = decode(content)
      gsub(/\r\n/, "\n", content)
      gsub(/\r/, "\n", content)
      gsub(/\n/, "\r\n", content)
      add_field(attr["NAME"], content)
    }
  }
  if (count == 0) die("the first form has no fields")
  if (ENVIRON["RT_SET_NAME"] != "" && replaced != 1)
    die("the first form has " replaced + 0 " fields named " ENVIRON["RT_SET_NAME"])
  printf "%s", body
}
EOF

# render NAME TEMPLATE [any]: a CGI GET of the template; the page in NAME.out.
# Fails when the page reports an error, unless the third argument is "any".
render() {
  run_vexil "$1" REQUEST_METHOD=GET SCRIPT_NAME=/cgi-bin/vexil \
    "QUERY_STRING=input=$2&database=$(printf '%s' "$dsn" | sed 's/%/%25/g; s/&/%26/g; s/+/%2B/g; s/ /+/g')"
  if [[ "${3:-}" != any ]] && grep -q 'Vexil Error' "$work/$1.out"; then
    cat "$work/$1.out"
    fail "$1: rendering the form reported an error"
  fi
}

# post NAME PAGE: reads the first form of PAGE.out like a browser and posts
# it as NAME (request body NAME.in, response NAME.out, fields NAME.fields).
post() {
  local name=$1 page=$2
  awk -v fields="$work/$name.fields" -f "$work/form_fields.awk" \
    "$work/$page.out" >"$work/$name.in" ||
    fail "$name: the form of $page.out could not be read"
  local length
  length=$(wc -c <"$work/$name.in")
  run_vexil "$name" REQUEST_METHOD=POST \
    CONTENT_TYPE=application/x-www-form-urlencoded "CONTENT_LENGTH=$((length))"
}

# expect_fields NAME FIELD...: the posted fields of NAME include these names.
expect_fields() {
  local name=$1 field
  shift
  for field in "$@"; do
    grep -q "^$field=\[" "$work/$name.fields" ||
      { cat "$work/$name.fields"; fail "$name: the form has no field $field"; }
  done
}

# expect_response NAME TEXT: the response of NAME contains TEXT.
expect_response() {
  grep -qF -- "$2" "$work/$1.out" ||
    { cat "$work/$1.out"; fail "$1: the response does not contain: $2"; }
}

# compare LABEL EXPECTED ACTUAL: two dumps must be equal byte for byte.
compare() {
  if ! cmp -s "$2" "$3"; then
    echo "--- expected rows ($2)"
    cat -A "$2"
    echo "--- actual rows ($3)"
    cat -A "$3"
    echo "--- posted fields"
    cat -A "${3%.rows}.fields"
    fail "$1"
  fi
}

# --- A: input fields, posted unchanged to a named template ----------------------

phase_a() {
  render page_a form_a.htm
  dump "$work/a_before.rows"
  post post_a page_a
  expect_fields post_a input id code title note database sql
  expect_response post_a "Result: [1] [1 row affected.]"
  dump "$work/post_a.rows"
  compare "A: posting the input fields unchanged changed the table" \
    "$work/a_before.rows" "$work/post_a.rows"
}

# --- B: one field changed, received by the built-in default template ------------

phase_b() {
  local new_title="New <title> & \"q\" 'x' $cafe &amp; end"
  render page_b form_b.htm
  # The expected rows: the rows as they are now with only that change, made
  # directly in a transaction that is rolled back.
  printf "BEGIN;\nUPDATE item SET title = '%s' WHERE id = 1;\n%s\nROLLBACK;\n" \
    "${new_title//\'/\'\'}" "$dump_query" | run_sql >"$work/b_expected.rows" 2>"$work/b_expected.err" ||
    { cat "$work/b_expected.err"; fail "computing the expected rows failed"; }
  grep -q "^1|[^|]*|New <title>" "$work/b_expected.rows" || fail "the expected rows of B lack the change"
  RT_SET_NAME=title RT_SET_VALUE=$new_title post post_b page_b
  expect_fields post_b id code title note database sql
  if grep -q -E 'Vexil Error|DATABASE ERROR' "$work/post_b.out"; then
    cat "$work/post_b.out"
    fail "B: the default template reported an error"
  fi
  dump "$work/post_b.rows"
  compare "B: the change of one field did not reach the table exactly" \
    "$work/b_expected.rows" "$work/post_b.rows"
}

# --- C: a text area, posted unchanged to the template named by FILE ------------

phase_c() {
  render page_c form_c.htm
  dump "$work/c_before.rows"
  post post_c page_c
  expect_fields post_c input id code body database sql
  expect_response post_c "Result: [1] [1 row affected.]"
  dump "$work/post_c.rows"
  compare "C: posting the text area unchanged changed the table" \
    "$work/c_before.rows" "$work/post_c.rows"
}

# --- D: 40 keys --------------------------------------------------------------

phase_d() {
  render page_d form_d.htm any
  if ! grep -qi '<FORM' "$work/page_d.out"; then
    # No form: acceptable only with a clear message.
    grep -q 'Vexil Error' "$work/page_d.out" ||
      { cat "$work/page_d.out"; fail "D: neither a form nor an error message"; }
    return 0
  fi
  printf "BEGIN;\nUPDATE keys40 SET val = 'changed' WHERE key_column_40 = 1;\n%s\nROLLBACK;\n" \
    "$keys_query" | run_sql >"$work/d_expected.rows" 2>"$work/d_expected.err" ||
    { cat "$work/d_expected.err"; fail "computing the expected rows failed"; }
  grep -qx "1|1|changed" "$work/d_expected.rows" || fail "the expected rows of D lack the change"
  RT_SET_NAME=val RT_SET_VALUE=changed post post_d page_d
  expect_fields post_d key_column_01 key_column_40 val database sql
  dump "$work/post_d.rows" "$keys_query"
  compare "D: posting the form of one row changed other rows or not that row" \
    "$work/d_expected.rows" "$work/post_d.rows"
}

# Each phase runs in a subshell, so that a failing one does not stop the
# others; their files stay in the work directory.
failures=()
for phase in A B C D; do
  [[ "$phases" == *$phase* ]] || continue
  case $phase in
    A) (phase_a) ;;
    B) (phase_b) ;;
    C) (phase_c) ;;
    D) (phase_d) ;;
  esac || failures+=("$phase")
done
if [[ ${#failures[@]} -ne 0 ]]; then
  fail "update form round trip ($backend): phase(s) ${failures[*]} failed"
fi
passed=1
echo "PASS: update form round trip ($backend), phases $phases"
exit 0
