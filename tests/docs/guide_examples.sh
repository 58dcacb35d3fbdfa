#!/usr/bin/env bash
# Runs every example of the user guide (docs/*.md) through the end-to-end
# runner, so that what the guide shows is what the program prints.
# Usage: guide_examples.sh <e2e_runner> <vexil binary> <docs folder> [NAME...]
# With NAMEs, only the examples of those names run.
#
# An example starts with a line "<!-- example: NAME -->" and runs to the next
# such line, the next heading or the end of the file. Its fenced blocks:
#   ```sql           the database script (SQLite); the run finds the
#                    database as the file guide.db in its folder
#   ```html [FILE]   a file of the run, page.htm unless FILE is given
#   ```console       "$ " lines: "export NAME=VALUE" sets a variable,
#                    "vexil ARGS" is the run ("echo 'TEXT' | vexil ARGS" also
#                    gives TEXT and a newline on standard input), any other
#                    line is run by /bin/sh before it; without a console
#                    block the run is "vexil -i page.htm"
#   ```text          the exact standard output
#   ```text FILE     the exact content of FILE after the run
# Hidden lines in an example: "<!-- exit: N -->" (the exit status, else 0),
# "<!-- stderr -->" (standard error may have text).
# Values are written as a shell reads them, in single quotes where needed;
# "$PWD" in an exported value is the run's folder.
# Fails when an example fails, when a docs/*.md file has no example, or when
# an example has a block of another kind or no expected output.
set -uo pipefail
export LC_ALL=C
[[ $# -ge 3 ]] || { echo "usage: $0 <e2e_runner> <vexil binary> <docs folder> [NAME...]"; exit 1; }
runner=$1 vexil=$2 docs=$3
shift 3
only=" $* "
bindir=$(cd "$(dirname "$vexil")" && pwd -P)
[[ -z "${ODBCSYSINI:-}" && -f "$bindir/odbc/odbcinst.ini" ]] && export ODBCSYSINI=$bindir/odbc ODBCINI=$bindir/odbc/odbc.ini
work=$(mktemp -d "${TMPDIR:-/tmp}/vexil-guide.XXXXXX") || exit 1
trap 'rm -rf "$work"' EXIT

# Writes one case file per example of the Markdown file $1 into the folder
# $2 (NAME.case) and prints the names; an error goes to stderr, status 1.
extract() {
  awk -v out="$2" -v src="$(basename "$1")" '
    function fail(msg) { printf "%s:%d: %s\n", src, NR, msg > "/dev/stderr"; bad = 1; exit 1 }
    # The words of a shell line: blanks separate, single quotes keep.
    function words(line, w,   n, i, c, cur, inq, have) {
      n = 0; cur = ""; inq = 0; have = 0
      for (i = 1; i <= length(line); i++) {
        c = substr(line, i, 1)
        if (inq) { if (c == "\047") inq = 0; else cur = cur c }
        else if (c == "\047") { inq = 1; have = 1 }
        else if (c == " ") { if (have || cur != "") { w[++n] = cur; cur = ""; have = 0 } }
        else cur = cur c
      }
      if (inq) fail("unclosed quote in: " line)
      if (have || cur != "") w[++n] = cur
      return n
    }
    function finish(   f, i, k) {
      if (name == "") return
      if (!has_stdout) fail("example " name " has no ```text block")
      f = out "/" name ".case"
      printf "Guide example %s (%s).\n", name, src > f
      if (has_db) { printf "=== database\n%s=== backends\nsqlite\n", db > f }
      if (env != "") printf "=== env\n%s", env > f
      printf "=== args\n%s", args > f
      if (has_stdin) printf "=== stdin\n%s", stdin > f
      if (has_db) setup = "cp test.db guide.db\n" setup
      if (setup != "") printf "=== setup\n%s", setup > f
      for (k = 1; k <= nfiles; k++) printf "=== file %s\n%s", fname[k], fbody[k] > f
      printf "=== stdout\n%s", stdout_text > f
      for (k = 1; k <= nexp; k++) printf "=== expect-file %s\n%s", ename[k], ebody[k] > f
      if (exit_code != "") printf "=== exit\n%s\n", exit_code > f
      if (allow_stderr) printf "=== stderr-allowed\n" > f
      close(f)
      print name
      name = ""
    }
    function start(n) {
      finish()
      if (n in seen) fail("two examples named " n)
      seen[n] = 1; name = n; examples++
      db = ""; has_db = 0; env = ""; args = "-i\npage.htm\n"; stdin = ""; has_stdin = 0
      setup = ""; nfiles = 0; nexp = 0; stdout_text = ""; has_stdout = 0
      exit_code = ""; allow_stderr = 0; has_console = 0
    }
    function block_end(   n, i, w, line, rest, k, lines) {
      if (kind == "sql") { db = body; has_db = 1 }
      else if (kind == "html") { k = ++nfiles; fname[k] = (arg == "" ? "page.htm" : arg); fbody[k] = body }
      else if (kind == "text" && arg == "") { stdout_text = body; has_stdout = 1 }
      else if (kind == "text") { k = ++nexp; ename[k] = arg; ebody[k] = body }
      else if (kind == "console") {
        if (has_console) fail("two console blocks in example " name)
        has_console = 1
        n = split(body, lines, "\n")
        for (i = 1; i < n; i++) {
          line = lines[i]
          if (line !~ /^\$ /) fail("console line without \"$ \": " line)
          line = substr(line, 3)
          if (line ~ /^export [A-Za-z_][A-Za-z0-9_]*=/) {
            rest = substr(line, 8)
            k = index(rest, "=")
            words(substr(rest, k + 1), w)
            gsub(/\$PWD/, "@DIR@", w[1])
            env = env substr(rest, 1, k) w[1] "\n"
          } else if (line ~ /^(echo .* \| )?vexil( |$)/) {
            if (line ~ /^echo /) {
              k = index(line, " | vexil")
              words(substr(line, 6, k - 6), w)
              stdin = w[1] "\n"; has_stdin = 1
              line = substr(line, k + 3)
            }
            n2 = words(line, w)
            args = ""
            for (k = 2; k <= n2; k++) args = args w[k] "\n"
          } else setup = setup line "\n"
        }
      }
      else fail("example " name ": a block of kind \"" kind "\" cannot be run")
    }
    /^<!-- example: [A-Za-z0-9_-]+ -->$/ && !inblock { n = $3; start(n); next }
    /^#/ && !inblock { finish(); next }
    /^<!-- exit: [0-9]+ -->$/ && !inblock && name != "" { exit_code = $3; next }
    /^<!-- stderr -->$/ && !inblock && name != "" { allow_stderr = 1; next }
    /^```/ {
      if (!inblock) {
        inblock = 1; body = ""
        kind = substr($1, 4); arg = $2
        next
      }
      if ($0 == "```") { inblock = 0; if (name != "") block_end(); next }
    }
    inblock { body = body $0 "\n"; next }
    END {
      if (bad) exit 1
      if (inblock) fail("unclosed fenced block")
      finish()
      if (examples == 0) fail("no examples")
    }
  ' "$1"
}

failed=0 total=0
shopt -s nullglob
pages=("$docs"/*.md)
[[ ${#pages[@]} -gt 0 ]] || { echo "FAIL: no Markdown files in $docs"; exit 1; }
for page in "${pages[@]}"; do
  dir=$work/$(basename "$page" .md)
  mkdir -p "$dir"
  names=$(extract "$page" "$dir") || { echo "FAIL: $page"; failed=1; continue; }
  for name in $names; do
    [[ "$only" == "  " || "$only" == *" $name "* ]] || continue
    total=$((total + 1))
    backend=()
    grep -q '^=== database$' "$dir/$name.case" && backend=(--backend sqlite)
    if ! out=$("$runner" "${backend[@]}" "$vexil" "$dir/$name.case" 2>&1); then
      echo "FAIL: $(basename "$page"): example $name"
      echo "$out"
      cp "$dir/$name.case" "${TMPDIR:-/tmp}/vexil-guide-$name.case" && echo "(case kept as ${TMPDIR:-/tmp}/vexil-guide-$name.case)"
      failed=1
    fi
  done
done
if [[ $failed -ne 0 ]]; then echo "FAIL: guide examples"; exit 1; fi
echo "PASS: $total guide examples"
