# Shared by the package tests: failures are collected and reported at the
# end, so one run shows every problem.
set -uo pipefail
failures=0
fail() { echo "FAIL: $*" >&2; failures=$((failures + 1)); }
pass() { echo "ok: $*"; }
check() { # check <description> <command...>
  local what=$1; shift
  if "$@"; then pass "$what"; else fail "$what"; fi
}
finish() {
  if [ "$failures" -gt 0 ]; then echo "$failures check(s) failed" >&2; exit 1; fi
  exit 0
}
skip() { echo "SKIPPED: $*"; exit 77; }
# The expected list, without comments, sorted as `sort` here sorts.
expected_files() { grep -v '^#' "$1" | LC_ALL=C sort; }
