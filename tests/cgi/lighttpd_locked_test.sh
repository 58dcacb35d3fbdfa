#!/usr/bin/env bash
# Attacks a locked vexil behind lighttpd, listening on a free port of
# 127.0.0.1 only: no VEXIL_OPEN, the template folder set by the server's
# setenv and kept outside the document root. Checks path traversal through
# the path and the input field, unsigned sql and database posts, an output
# field, reflected markup, REDIRECT header injection, EXEC, a missing page,
# and one good page with its Content-Type.
#
# Usage: lighttpd_locked_test.sh <vexil binary>
# Exit status: 0 pass, 1 fail, 77 lighttpd or curl missing (1 instead when
# VEXIL_REQUIRE_ALL=1).
# shellcheck source=lighttpd_test.sh
source "$(dirname "$0")/lighttpd_test.sh"
make_work cgi-locked "$@"
templates=$work/templates
start_site "\"VEXIL_TEMPLATE_ROOT\" => $(q "$templates")"
# The site: templates outside the document root, a secret next to them, and
# a file in the document root that no template name may reach either.
mkdir -p "$templates/sub" || fail "mkdir failed"
printf '<p>Hello from the site</p>\n' >"$templates/page.htm"
printf '<p>q=[$q$] <a title="$q$">x</a></p>\n' >"$templates/echo.htm"
printf '<!--REDIRECT $to$-->\n' >"$templates/go.htm"
printf 'before\n<!--EXEC touch %s/pwned-->\nafter\n' "$work" >"$templates/exec.htm"
printf '<!--SQL $sql$-->[$sql_status$]\n' >"$templates/done.htm"
printf 'TOP SECRET\n' >"$work/secret.txt"
printf 'DOCROOT SECRET\n' >"$docroot/hidden.txt"
ln -s "$work/secret.txt" "$templates/sub/link.htm"

# The good page, by its path and by the input field.
check good-path 200 '<p>Hello from the site</p>' "$base/page.htm"
check good-input 200 '<p>Hello from the site</p>' "$base?input=page.htm"

# Traversal through the path, sent as it is. lighttpd resolves "../" (also
# encoded) itself, so those requests never reach the program: its own 404
# answers them. What does reach the program gets the site's 404 page.
for p in '/../../secret.txt' '/..%2f..%2fsecret.txt' '/%2e%2e/%2e%2e/secret.txt' '/../htdocs/hidden.txt'; do
  check "path $p" 404 - --path-as-is "$base$p"
done
for p in '/sub/link.htm' '//etc/passwd' '/..%5c..%5csecret.txt' '/sub/..%5c..%5csecret.txt'; do
  check "path $p" 404 "$not_found_body" --path-as-is "$base$p"
done
# Traversal through the input field, in a query and in a posted body (where
# a NUL gets past the web server).
for i in '../secret.txt' '..%2Fsecret.txt' '%252e%252e%252fsecret.txt' '%2Fetc%2Fpasswd' \
    "$work/secret.txt" 'sub/link.htm' '../htdocs/hidden.txt' 'nothing.htm'; do
  check "input $i" 404 "$not_found_body" "$base?input=$i"
done
for i in '../secret.txt%00page.htm' '%00../secret.txt' 'sub%2Flink.htm'; do
  check "posted input $i" 404 "$not_found_body" -H 'Content-Type: application/x-www-form-urlencoded' \
    --data-binary "input=$i" "$base"
done
check missing-page 404 "$not_found_body" "$base/nothing.htm"
check no-page 404 "$not_found_body" "$base"

# Unsigned statement and connect text, posted: 403, nothing runs.
forbidden='<HTML><HEAD><TITLE>Forbidden</TITLE></HEAD><BODY><H3>Forbidden</H3><P>This site accepts no posted statements: it has no key for signing forms.</P></BODY></HTML>'
check unsigned-sql 403 "$forbidden" -H 'Content-Type: application/x-www-form-urlencoded' \
  --data-binary 'input=done.htm&sql=DROP+TABLE+item' "$base"
check unsigned-database 403 "$forbidden" -H 'Content-Type: application/x-www-form-urlencoded' \
  --data-binary "input=done.htm&database=DRIVER%3DSQLite3%3BDatabase%3D$work/made.db" "$base"

# An output field writes nothing; the page comes as usual.
check output-field 200 '<p>Hello from the site</p>' "$base/page.htm?output=$work/written.htm"
[[ -e $work/written.htm || -e $work/made.db ]] && failed "a request made a file"

# Reflected markup is escaped.
check xss 200 '<p>q=[&lt;script&gt;alert(1)&lt;/script&gt;] <a title="&lt;script&gt;alert(1)&lt;/script&gt;">x</a></p>' \
  "$base/echo.htm?q=%3Cscript%3Ealert(1)%3C/script%3E"
check xss-quote 200 '<p>q=[&quot;&gt;&lt;script&gt;alert(1)&lt;/script&gt;] <a title="&quot;&gt;&lt;script&gt;alert(1)&lt;/script&gt;">x</a></p>' \
  "$base/echo.htm?q=%22%3E%3Cscript%3Ealert(1)%3C/script%3E"

# REDIRECT: header injection and other sites are refused, a good one works.
refused='<HTML><HEAD><TITLE>Vexil Error</TITLE> </HEAD><BODY BGCOLOR="#FFFFFF"><P><B>Vexil Error:</B> REDIRECT refused: the target is not a page of this site or an http(s) address.<P>'
# lighttpd refuses control characters in a query (400), so CR and LF come
# in a posted body.
for t in '/next.htm%0d%0aSet-Cookie:+evil=1' '%0aLocation:+http://evil.example/' 'javascript:alert(1)' \
    '//evil.example/' '/%5cevil.example/'; do
  check "redirect $t" 200 "$refused" -H 'Content-Type: application/x-www-form-urlencoded' \
    --data-binary "to=$t" "$base/go.htm"
done
check "redirect query" 200 "$refused" "$base/go.htm?to=JavaScript:alert(1)"
check redirect-good 302 - "$base/go.htm?to=/next.htm"
tr -d '\r' <"$out.head" | grep -qx "Location: /next.htm" || { cat "$out.head"; failed "[redirect-good]: no Location: /next.htm"; }

# EXEC is refused: the rest of the page comes, the command did not run.
check exec 200 "before
<P><B>Vexil Error:</B> EXEC is not allowed in a web run of this site (VEXIL_ALLOW_EXEC is not set).<BR>[Error in file exec.htm line 2]<P>
after" "$base/exec.htm"
[[ -e $work/pwned ]] && failed "EXEC ran"
finish_site "requests to a locked site answered as expected"
