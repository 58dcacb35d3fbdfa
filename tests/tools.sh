# shellcheck shell=bash
# Sourced by the shell tests' common files: fail, and need for the tools a
# test uses. A test exits 0 when it passes, 1 when it fails, 77 when a tool
# is missing (1 instead when VEXIL_REQUIRE_ALL=1).
fail() { echo "FAIL: $*"; exit 1; }

# need TOOL...: skips (77) unless every TOOL is installed.
need() {
  local tool
  for tool in "$@"; do
    command -v "$tool" >/dev/null && continue
    [[ ${VEXIL_REQUIRE_ALL:-} == 1 ]] && fail "$tool is not installed (VEXIL_REQUIRE_ALL=1)"
    echo "SKIP: $tool is not installed"
    exit 77
  done
}
