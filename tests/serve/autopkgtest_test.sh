#!/usr/bin/env bash
# The as-installed tests of debian/tests, run by autopkgtest in a Debian 12
# virtual machine, as Debian's CI runs them: the package built by the
# package test (with a 10 s idle limit), version 1.0.0's package and README
# for the upgrade from it, and the cached image of tests/support/vm-image.
#
#   autopkgtest_test.sh SOURCE_DIR WORK_DIR PACKAGE_DIR
#
# PACKAGE_DIR holds the package under test (weekend_VERSION_ARCH.deb). The
# machine runs on KVM where the host has real hardware virtualisation, and
# is emulated on every core (tests/support/qemu-tcg) otherwise. Version
# 1.0.0's package is built from the tag v1.0.0 (or the newest commit whose
# changelog's top entry is 1.0.0) with that commit's own build script,
# once, and kept in /var/cache/weekend-tests/. Exits 77 (skipped), naming
# the tests and the reason, where no virtual machine can run here.
set -euo pipefail

support=$(cd "$(dirname "${BASH_SOURCE[0]}")/../support" && pwd)
# shellcheck source=SCRIPTDIR/../support/checks.sh
. "$support/checks.sh"

source_dir=$(realpath "$1")
work=$(realpath -m "$2")
package_dir=$3
cache=/var/cache/weekend-tests
control=$source_dir/debian/tests/control
started=$SECONDS

tests=$(sed -n 's/^Tests:[[:space:]]*//p' "$control" | tr -d ',' | paste -sd ' ')
skip_all() { skip "the autopkgtest tests ($tests): $*"; }

[[ $(id -u) -eq 0 ]] || skip_all "a virtual machine's image and loop devices need root"
for program in autopkgtest autopkgtest-virt-qemu qemu-system-x86_64 qemu-img; do
    command -v "$program" >/dev/null || skip_all "$program is not installed"
done
# Where no machine can run, that is the reason given, whatever the package.
why=$("$support/vm-image" --check "$control") || skip_all "${why#SKIPPED: }"
deb=$(ls -t "$package_dir"/weekend_*.deb 2>/dev/null | head -n 1 || true)
[[ -n $deb ]] ||
    skip_all "no package in $package_dir: serve.package builds it, and it failed, was skipped or did not run"

# Real KVM: the processor's virtualisation, its kernel module and a
# /dev/kvm that opens. Anything less (no /dev/kvm, or a software KVM that
# cannot run a stock Debian kernel) gets an emulated machine.
virt=(--cpus 2 --ram-size 2048 --timeout-reboot 300)
if grep -qwE 'vmx|svm' /proc/cpuinfo && [[ -d /sys/module/kvm_intel || -d /sys/module/kvm_amd ]] &&
    { : <>/dev/kvm; } 2>/dev/null; then
    echo "KVM: the machine runs on the host's processor"
else
    echo "no real KVM here: the machine is emulated (tests/support/qemu-tcg)"
    virt+=(--qemu-command="$support/qemu-tcg")
fi

echo "--- the image"
mkdir -p "$work"
status=0
# With pipefail, the status is vm-image's.
"$support/vm-image" "$control" 2>&1 | tee "$work/image.log" || status=$?
((status != 77)) || skip_all "$(sed -n 's/^SKIPPED: //p' "$work/image.log")"
((status == 0)) || fail "tests/support/vm-image"
((status == 0)) || finish
image=$(tail -n 1 "$work/image.log")
rm -f "$work/image.log"

# Version 1.0.0's package and README, for the upgrade from it: built once
# per commit, with that commit's own packaging/build-deb.sh.
old_release() {
    local commit
    command -v git >/dev/null && git -C "$source_dir" rev-parse --git-dir >/dev/null 2>&1 || {
        echo "no git history to build 1.0.0 from"
        return 1
    }
    # Without the tag (a clone that did not fetch tags), the newest commit
    # whose changelog's top entry is 1.0.0: the one before 1.1.0 began.
    # The changelog lived in packaging/debian/ then.
    commit=$(git -C "$source_dir" rev-parse -q --verify 'v1.0.0^{commit}' ||
        for commit in $(git -C "$source_dir" rev-list HEAD); do
            if [[ $(git -C "$source_dir" show "$commit:packaging/debian/changelog" 2>/dev/null |
                head -n 1) == *'(1.0.0)'* ]]; then
                echo "$commit"
                break
            fi
        done)
    [[ -n $commit ]] || {
        echo "no tag v1.0.0 and no commit whose changelog names 1.0.0"
        return 1
    }
    old=$cache/weekend-1.0.0-${commit:0:12}
    mkdir -p "$cache"
    exec 8>"$cache/old.lock"
    flock 8 # runs at the same time build it once
    if [[ ! -f $old/weekend.deb ]]; then
        echo "building 1.0.0 from $commit"
        rm -rf "$work/v1.0.0" "$old.new"
        mkdir -p "$work/v1.0.0" "$old.new"
        git -C "$source_dir" archive "$commit" | tar -x -C "$work/v1.0.0"
        built=$("$work/v1.0.0/packaging/build-deb.sh" "$work/v1.0.0/build" 2>"$work/v1.0.0.log" | tail -n 1) || {
            tail -n 20 "$work/v1.0.0.log"
            echo "FAIL: 1.0.0 does not build"
            return 2
        }
        cp "$built" "$old.new/weekend.deb"
        cp "$work/v1.0.0/README.md" "$old.new/README.md"
        mv "$old.new" "$old"
        rm -rf "$work/v1.0.0" "$work/v1.0.0.log"
    fi
    exec 8>&-
    echo "1.0.0: $(dpkg-deb --field "$old/weekend.deb" Version) from $commit"
}
echo "--- version 1.0.0"
copy=()
status=0
old_release || status=$?
((status != 2)) || fail "version 1.0.0's package"
((status != 0)) || copy=(--copy "$old:/var/tmp/weekend-1.0.0")

echo "--- autopkgtest, $(dpkg-deb --field "$deb" Version) in $image"
# The source tree as it is, without build folders or git's.
rm -rf "$work/src" "$work/out"
"$support/copy-tree" "$source_dir" "$work/src"
# The machine is booted once more when it failed before any test began:
# autopkgtest-virt-qemu gives an emulated machine 5 s to answer at its
# console, which a busy host may take longer for.
for boot in 1 2; do
    rm -rf "$work/out"
    status=0
    autopkgtest --output-dir "$work/out" --summary-file "$work/summary" --timeout-test 1800 "${copy[@]}" \
        "$deb" "$work/src" -- qemu "${virt[@]}" "$image" || status=$?
    ((status == 16)) && ! grep -q '^autopkgtest \[[0-9:]*\]: test ' "$work/out/log" 2>/dev/null || break
    echo "--- the machine failed before any test began (exit status 16); booting it once more"
done
echo "--- autopkgtest's summary (exit status $status)"
cat "$work/summary" 2>/dev/null || true
# Every test passed (0), or only the upgrade from 1.0.0 was skipped because
# its package could not be made here (2, and that was said above).
if ((status == 2)) && ((${#copy[@]} == 0)) &&
    ! grep -vE '^upgrade-from-1\.0\.0 +SKIP|PASS' "$work/summary" | grep -q .; then
    status=0
fi
((status == 0)) || fail "autopkgtest exit status $status"
finish "the as-installed tests passed in a virtual machine after $((SECONDS - started)) s"
