# Sourced by every shell test and by the end-to-end harness: one way to check
# a value and to end with a verdict. Each check prints one line, "ok" or
# "FAIL", and counts the failures; `expect_verdict` prints PASSED or FAILED
# and sets the exit status.
failures=0

expect_ok() { echo "  ok    $*"; }

expect_fail() {
  echo "  FAIL  $*"
  failures=$((failures + 1))
}

# expect WHAT ACTUAL EXPECTED
expect() {
  if [ "$2" = "$3" ]; then expect_ok "$1: $2"; else expect_fail "$1: got '$2', expected '$3'"; fi
}

# expect_range WHAT VALUE LOW HIGH (integers, inclusive)
expect_range() {
  if [ -n "$2" ] && [ "$2" -ge "$3" ] 2>/dev/null && [ "$2" -le "$4" ]; then
    expect_ok "$1: $2 (within $3..$4)"
  else
    expect_fail "$1: got '$2', expected $3..$4"
  fi
}

expect_verdict() {
  if [ "$failures" -eq 0 ]; then
    echo "PASSED"
  else
    echo "FAILED ($failures failed checks)"
    exit 1
  fi
}
