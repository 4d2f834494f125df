# Sourced by the test scripts: one way to check a value and to end with a
# verdict. `expect WHAT ACTUAL EXPECTED` prints ok or FAIL and counts the
# failures; `expect_verdict` prints PASSED or FAILED and sets the exit status.
failures=0

expect() {
  if [ "$2" = "$3" ]; then
    echo "  ok    $1: $2"
  else
    echo "  FAIL  $1: got '$2', expected '$3'"
    failures=$((failures + 1))
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
