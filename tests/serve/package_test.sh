#!/usr/bin/env bash
# The Debian package as built: its files, its control fields, a stripped
# game, and lintian without errors or warnings. Installing, upgrading,
# removing and purging it, on a booted system, is booted_test.sh's part.
#
#   package_test.sh SOURCE_DIR WORK_DIR
#
# The package is built in WORK_DIR. Exits 77 (skipped), saying why, where it
# lacks root or a program.
set -euo pipefail

# skip, fail, check and finish.
# shellcheck source=SCRIPTDIR/../support/checks.sh
. "$(dirname "${BASH_SOURCE[0]}")/../support/checks.sh"

source_dir=$1
work=$2
[[ $(id -u) -eq 0 ]] || skip "lintian is run as nobody through setpriv, which needs root"
for program in cpack dpkg-deb dpkg-shlibdeps dpkg-buildflags lintian setpriv readelf; do
    command -v "$program" >/dev/null || skip "$program is not installed"
done

echo "--- build"
deb=$("$source_dir/packaging/build-deb.sh" "$work" | tail -n 1)
echo "$deb"
dpkg-deb --info "$deb"
contents=$(dpkg-deb --contents "$deb")
echo "$contents"
for path in ./usr/games/weekend ./usr/share/man/man6/weekend.6.gz ./usr/share/doc/weekend/copyright \
    ./usr/share/doc/weekend/changelog.gz ./usr/share/weekend/systemd/weekend.socket \
    ./usr/share/weekend/systemd/weekend@.service ./usr/share/weekend/systemd/weekend-web.service \
    ./usr/share/weekend/web/index.html ./usr/share/weekend/web/weekend.js ./usr/share/weekend/web/weekend.css; do
    [[ $contents == *" $path"$'\n'* || $contents == *" $path" ]] || fail "the package lacks $path"
done
[[ $(dpkg-deb --field "$deb" Section) == games ]] || fail "the package is not in section games"
[[ $(dpkg-deb --field "$deb" Depends) == *libc6* ]] || fail "no dependencies from dpkg-shlibdeps"
dpkg-deb --fsys-tarfile "$deb" | tar -xO ./usr/games/weekend >"$work/weekend.installed"
! readelf --sections "$work/weekend.installed" | grep -q '\.symtab' || fail "the game is not stripped"

echo "--- lintian"
# lintian advises against running as root; it only needs to read the .deb.
chmod o+r "$deb"
lintian_output=$(setpriv --reuid=nobody --regid=nogroup --clear-groups env HOME=/tmp \
    lintian --display-info "$deb" 2>&1) || true
echo "${lintian_output:-(nothing)}"
! grep -qE '^[EW]: ' <<<"$lintian_output" || fail "lintian reports errors or warnings"

finish "the package holds what it should, and lintian is content"
