# Sourced by the FastCGI test scripts: fail, and the check for cgi-fcgi
# (Debian: libfcgi-bin), which they speak FastCGI with. Without it a script
# is skipped (77), or fails when VEXIL_REQUIRE_ALL=1.
fail() { echo "FAIL: $*"; exit 1; }
if ! command -v cgi-fcgi >/dev/null; then
  [[ ${VEXIL_REQUIRE_ALL:-} == 1 ]] && fail "cgi-fcgi is not installed (VEXIL_REQUIRE_ALL=1)"
  echo "SKIP: cgi-fcgi is not installed"
  exit 77
fi

# Waits until a FastCGI server answers on the socket $1 (its file appears
# before the server listens on it): a request without variables gets an
# error page.
wait_for_server() {
  local client
  client=$(command -v cgi-fcgi)
  for _ in $(seq 100); do
    [[ -n $(env -i "$client" -bind -connect "$1" 2>/dev/null) ]] && return 0
    sleep 0.1
  done
  fail "nothing answers on $1"
}
