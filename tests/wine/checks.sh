# The PASS/FAIL lines of the wine checks; sourced. `check DESCRIPTION COMMAND...` passes when
# the command succeeds; $failures counts the others.
failures=0
check() {
    local what=$1
    shift
    if "$@"; then echo "PASS $what"; else echo "FAIL $what"; failures=$((failures + 1)); fi
}
