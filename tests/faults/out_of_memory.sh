#!/usr/bin/env bash
# Memory runs out for real: the runs get an address-space limit (ulimit -v)
# that leaves room for an ordinary page but not for what a huge request
# asks. Each must end with the "Out of memory" page and exit 1, without a
# crash or a word on standard error:
#   - a POST whose CONTENT_LENGTH (1 GiB, allowed by VEXIL_MAX_BODY) the
#     tracked allocator cannot provide;
#   - a 100 MB field shown in a locked page, whose escaped copy cannot grow;
#   - the first request through a FastCGI worker under the same limit, which
#     then answers the next request as usual.
# A small request under the same limit gets its page (the limit is not
# what fails by itself).
#
# Usage: out_of_memory.sh <vexil binary>
# Exit status: 0 pass, 1 fail, 77 a sanitizer build (its shadow memory
# needs more address space than any such limit allows) or cgi-fcgi missing.
# shellcheck source=../fastcgi/common.sh
source "$(dirname "$0")/../fastcgi/common.sh"
if [[ ${VEXIL_TEST_SANITIZED:-OFF} == ON ]]; then
  echo "SKIP: a sanitizer build cannot run under ulimit -v"
  exit 77
fi
need cgi-fcgi
make_work oom "$@"
limit_kb=262144
printf 'a=[$a$]\n' >page.htm
oom_page=$'<HTML><H3>Program Terminated</H3>\nOut of memory\n</HTML>'
failures=0

# check NAME EXIT OUTPUT EXPECTED_EXIT EXPECTED_START EXPECTED_END
check() {
  local problems=()
  [[ $2 == "$4" ]] || problems+=("exit $2, expected $4")
  [[ $3 == "$5"* ]] || problems+=("the answer does not start as expected")
  [[ $3 == *"$6" ]] || problems+=("the answer does not end as expected")
  [[ -s err ]] && problems+=("standard error: $(head -c 500 err)")
  if [[ ${#problems[@]} -eq 0 ]]; then echo "ok [$1]"; return; fi
  echo "FAIL [$1]: ${problems[*]}"
  echo "--- expected start and end"; printf '%s\n...\n%s\n' "$5" "$6"
  echo "--- actual (first 400 bytes, x for the field's letters)"; printf '%s\n' "${3:0:400}" | tr -s x
  failures=$((failures + 1))
}

# post LENGTH SENT ENV...: a CGI POST run under the limit, CONTENT_LENGTH
# LENGTH and a body of SENT bytes: "input=page.htm&a=xxx...".
post() {
  local length=$1 sent=$2
  shift 2
  (
    ulimit -v "$limit_kb" || exit 99
    { printf 'input=page.htm&a='; head -c "$((sent - 17))" /dev/zero | tr '\0' x; } |
      env -i PATH="$PATH" REQUEST_METHOD=POST CONTENT_TYPE=application/x-www-form-urlencoded \
        CONTENT_LENGTH="$length" VEXIL_MAX_BODY=2000000000 VEXIL_MAX_OUTPUT=2000000000 "$@" "$vexil" 2>err
  )
}

out=$(post 20 20 VEXIL_OPEN=1)
check "a small request under the limit" $? "$out" 0 $'Content-type: text/html\n\na=[xxx]' 'a=[xxx]'
out=$(post $((1 << 30)) 20 VEXIL_OPEN=1)
check "1 GiB announced" $? "$out" 1 $'Content-type: text/html\n\n'"$oom_page" "$oom_page"
out=$(post $((100 << 20)) $((100 << 20)) VEXIL_TEMPLATE_ROOT="$work")
check "100 MB field in a locked page" $? "$out" 1 $'Content-Type: text/html; charset=utf-8\n\n' "$oom_page"

start_worker "$limit_kb"
request() {
  printf 'input=page.htm&a=xxx' | fcgi REQUEST_METHOD=POST VEXIL_OPEN=1 CONTENT_TYPE=application/x-www-form-urlencoded \
    CONTENT_LENGTH="$1" VEXIL_MAX_BODY=2000000000 2>err
}
out=$(request $((1 << 30)))
check "1 GiB announced to a worker" $? "$out" 1 $'Content-type: text/html\n\n'"$oom_page" "$oom_page"
out=$(request 20)
check "the worker's next request" $? "$out" 0 $'Content-type: text/html\n\na=[xxx]' 'a=[xxx]'
stop_worker
[[ $failures -eq 0 ]] || fail "$failures case(s) failed"
echo "PASS: runs out of memory end with the Out of memory page"
