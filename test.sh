#!/usr/bin/env bash
# Builds the game and all its tests (installing the Debian packages they need
# when missing) and runs the tests with CTest.
#
#   ./test.sh              g++, optimised, in build-tests/
#   ./test.sh --sanitize   clang++ with AddressSanitizer and
#                          UndefinedBehaviorSanitizer, in build-asan/
#
# The game's tests never touch the real page file /home/flags: transcripts
# run in a private mount namespace, unit tests use a directory of their own.
# Tests that need root or a package that is missing (the serving tests:
# websocketd, chromium, python3-selenium, lintian, ...) are skipped, and the
# list at the end says why; .ci/run installs those packages first.
set -euo pipefail
cd "$(dirname "${BASH_SOURCE[0]}")"

mode=${1:-plain}
case $mode in
plain | --sanitize) ;;
*)
    echo "usage: ./test.sh [--sanitize]" >&2
    exit 2
    ;;
esac

tools/need-packages cmake ninja-build g++ clang libgtest-dev libgmock-dev libbenchmark-dev libclang-rt-14-dev

options=(-G Ninja)
# The benchmarks are only built, never timed here: a slow machine fails nothing.
[[ -f bench/CMakeLists.txt ]] && options+=(-DWEEKEND_BENCH=ON)
if [[ $mode == --sanitize ]]; then
    build="build-asan"
    options+=(-DCMAKE_CXX_COMPILER=clang++ -DCMAKE_BUILD_TYPE=RelWithDebInfo -DWEEKEND_SANITIZE=ON)
    # The fuzz target needs clang; building it keeps it compiling.
    [[ -f fuzz/CMakeLists.txt ]] && options+=(-DWEEKEND_FUZZ=ON)
    export ASAN_OPTIONS=detect_leaks=1:strict_string_checks=1:detect_stack_use_after_return=1
    export UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1
else
    build="build-tests"
    options+=(-DCMAKE_CXX_COMPILER=g++ -DCMAKE_BUILD_TYPE=Release)
fi

jobs=$(nproc 2>/dev/null || echo 2)
cmake -S . -B "$build" "${options[@]}"
cmake --build "$build" -j "$jobs"
status=0
ctest --test-dir "$build" --output-on-failure -j "$jobs" || status=$?

# Skipped tests print why (a line "SKIPPED: ...", or GoogleTest's message
# after "Skipped"); ctest keeps that only in its log, so say it here.
awk '/^[0-9]+\/[0-9]+ Test: / { test = $3 }
     /^SKIPPED: / { print "skipped " test ": " substr($0, 10) }
     after_skip { print "skipped " test ": " $0; after_skip = 0 }
     /: Skipped$/ { after_skip = 1 }' "$build/Testing/Temporary/LastTest.log" | sort -u
exit "$status"
