#!/usr/bin/env bash
# Builds the game and all its tests (installing the Debian packages they need
# when missing), runs the tests with CTest and ends by naming every skipped
# test with its reason. Exits non-zero only when the build or a test failed.
# As root it installs everything every test uses, so that on a fresh Debian 12
# machine every test runs; as another user only what the build needs
# (through sudo when it must), and it skips the tests that lack the rest.
#
#   ./test.sh              g++, optimised, in build-tests/
#   ./test.sh --sanitize   clang++ with AddressSanitizer and
#                          UndefinedBehaviorSanitizer, in build-asan/
#   ./test.sh --coverage   g++ with gcov, in build-coverage/, and then the
#                          line coverage of engine/, door/ and story/ (gcovr)
#   ./test.sh --install-only   only what ./test.sh installs, and no build
#
# The tests never touch the real page file /home/flags: those that run the
# game or a tool run under tests/support/private-pages, with a fresh, empty
# /home of their own; unit tests use a directory of their own. Tests that
# need a privilege or a package that is missing are skipped, and the list at
# the end says which and why.
set -euo pipefail
cd "$(dirname "${BASH_SOURCE[0]}")"

mode=${1:-plain}
packages=(cmake ninja-build g++ libgtest-dev libgmock-dev libbenchmark-dev)
if [[ $(id -u) == 0 ]]; then
    # The serving tests (load with its telnet players, browser), the private
    # folders, the Debian package, and the virtual machine that autopkgtest
    # runs the as-installed tests in (its image made by vmdb2 with
    # debootstrap).
    packages+=(python3 python3-selenium python3-websocket python3-pexpect chromium chromium-driver websocketd socat
        inetutils-telnet systemd lintian dpkg-dev debhelper binutils util-linux iproute2 autopkgtest qemu-system-x86
        qemu-utils vmdb2 debootstrap zerofree wget git)
    # The GlusterFS servers and mounts of the test of several machines.
    packages+=(glusterfs-server glusterfs-client)
    # npm, for axe-core below; a machine may have it from elsewhere.
    command -v npm >/dev/null || packages+=(nodejs npm)
fi
options=(-G Ninja)
# The benchmarks are only built, never timed here: a slow machine fails nothing.
[[ -f bench/CMakeLists.txt ]] && options+=(-DWEEKEND_BENCH=ON)
case $mode in
plain | --install-only)
    build="build-tests"
    options+=(-DCMAKE_CXX_COMPILER=g++ -DCMAKE_BUILD_TYPE=Release)
    ;;
--sanitize)
    packages+=(clang libclang-rt-14-dev)
    build="build-asan"
    options+=(-DCMAKE_CXX_COMPILER=clang++ -DCMAKE_BUILD_TYPE=RelWithDebInfo -DWEEKEND_SANITIZE=ON)
    # The fuzz target needs clang; building it keeps it compiling.
    [[ -f fuzz/CMakeLists.txt ]] && options+=(-DWEEKEND_FUZZ=ON)
    export ASAN_OPTIONS=detect_leaks=1:strict_string_checks=1:detect_stack_use_after_return=1
    export UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1
    ;;
--coverage)
    packages+=(gcovr)
    build="build-coverage"
    options+=(-DCMAKE_CXX_COMPILER=g++ -DCMAKE_BUILD_TYPE=Debug -DWEEKEND_COVERAGE=ON)
    ;;
*)
    echo "usage: ./test.sh [--sanitize | --coverage | --install-only]" >&2
    exit 2
    ;;
esac

# As root, also what the package test's dpkg-buildpackage needs, read by apt
# from debian/control (build-essential too).
build_deps=()
[[ $(id -u) != 0 ]] || build_deps=(--build-deps .)
tools/need-packages "${build_deps[@]}" "${packages[@]}"
[[ $mode != --install-only ]] || exit 0

jobs=$(nproc 2>/dev/null || echo 2)
cmake -S . -B "$build" "${options[@]}"
cmake --build "$build" -j "$jobs"
if [[ $(id -u) == 0 ]]; then
    # axe-core, the one npm package a test uses (the browser test's
    # accessibility check, which is skipped without it), at the version
    # that tests/serve/axe/package-lock.json pins, into the build folder.
    mkdir -p "$build/axe"
    cp tests/serve/axe/package.json tests/serve/axe/package-lock.json "$build/axe/"
    npm ci --prefix "$build/axe" --no-audit --no-fund --loglevel=error ||
        echo "axe-core could not be installed: the browser test skips its accessibility check"
fi
if [[ $mode == --coverage ]]; then
    # Counts from an earlier run would add up with this one.
    find "$build" -name '*.gcda' -delete
fi
status=0
ctest --test-dir "$build" --output-on-failure -j "$jobs" --output-junit ctest-junit.xml || status=$?
if [[ $mode == --coverage ]]; then
    echo "Line coverage of engine/, door/ and story/ by all tests:"
    gcovr --root . --filter 'engine/' --filter 'door/' --filter 'story/' --object-directory "$build" --print-summary \
        --sort-percentage "$build"
fi
tests/report-skipped.sh "$build/ctest-junit.xml"
exit "$status"
