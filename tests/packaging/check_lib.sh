# Sourced by the packaging tests: a scratch directory $tmp removed on exit,
# and the counted checks whose closing lines ctest and CI read.
# usage: . check_lib.sh TAG    (the scratch directory is /tmp/pqw-TAG-XXXXXX)
tmp=$(mktemp -d "/tmp/pqw-$1-XXXXXX")
trap 'rm -rf "$tmp"' EXIT
failures=0
checks=0

fail() {
  echo "FAIL: $*" >&2
  failures=$((failures + 1))
}
check() {  # check WHAT COMMAND...
  checks=$((checks + 1))
  local what=$1
  shift
  "$@" || fail "$what"
}
# check_summary NAME: the closing lines; the status is 0 only without failures.
check_summary() {
  echo "$1: $checks checks, $failures failed"
  echo "$((checks - failures)) passed, $failures failed"
  [ "$failures" -eq 0 ]
}
