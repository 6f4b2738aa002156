# What the shell tests share, sourced by them: a skip that says why (exit
# code 77), failed checks counted, and the verdict at the end.
# shellcheck shell=bash

skip() {
    echo "SKIPPED: $*"
    exit 77
}
fail() {
    echo "FAIL: $*"
    failures=$((failures + 1))
}
# Says "ok: WHAT" when the command succeeds, counts a failure otherwise.
check() {
    local what=$1
    shift
    if "$@"; then echo "ok: $what"; else fail "$what"; fi
}
# Exits 1 when a check failed, otherwise says the given summary.
finish() {
    if ((failures > 0)); then
        echo "$failures check(s) failed"
        exit 1
    fi
    echo "$*"
}
failures=0
