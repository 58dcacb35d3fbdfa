# Sourced by the FastCGI test scripts: fail, and the check for cgi-fcgi
# (Debian: libfcgi-bin), which they speak FastCGI with. Without it a script
# is skipped (77), or fails when VEXIL_REQUIRE_ALL=1.
fail() { echo "FAIL: $*"; exit 1; }
if ! command -v cgi-fcgi >/dev/null; then
  [[ ${VEXIL_REQUIRE_ALL:-} == 1 ]] && fail "cgi-fcgi is not installed (VEXIL_REQUIRE_ALL=1)"
  echo "SKIP: cgi-fcgi is not installed"
  exit 77
fi
