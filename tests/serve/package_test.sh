#!/usr/bin/env bash
# The Debian package as dpkg-buildpackage builds it from this tree: its
# files, the set-group-ID game stripped with its symbols in the -dbgsym
# package, its control fields, and lintian without errors or warnings on the
# source and the binaries. Installing, upgrading, removing and purging it are
# the as-installed tests' part (debian/tests), which use the packages built
# here: with a short idle limit, as debian/rules allows.
#
#   package_test.sh SOURCE_DIR WORK_DIR IDLE_LIMIT
#
# WORK_DIR/src is a copy of the source tree (what git does not ignore) that
# the packages are built from; they land in WORK_DIR, which is emptied
# first, so that no package of an earlier run is left for the as-installed
# tests. Exits 77 (skipped), saying why, where it lacks a program or a
# build dependency that debian/control names.
set -euo pipefail

# skip, fail, check and finish.
# shellcheck source=SCRIPTDIR/../support/checks.sh
. "$(dirname "${BASH_SOURCE[0]}")/../support/checks.sh"

source_dir=$(realpath "$1")
work=$(realpath -m "$2")
idle=$3
rm -rf "$work"
programs=(dpkg-buildpackage dh dpkg-deb lintian readelf)
# debian/control asks for root (the game is owned by the group games):
# fakeroot gives it to a user.
[[ $(id -u) -eq 0 ]] || programs+=(fakeroot)
for program in "${programs[@]}"; do
    command -v "$program" >/dev/null || skip "$program is not installed"
done
unmet=$(cd "$source_dir" && dpkg-checkbuilddeps 2>&1) || skip "${unmet#dpkg-checkbuilddeps: error: }"

echo "--- build, with an idle limit of $idle s"
"$(dirname "${BASH_SOURCE[0]}")/../support/copy-tree" "$source_dir" "$work/src"
if ! (cd "$work/src" && WEEKEND_IDLE_LIMIT=$idle dpkg-buildpackage -us -uc) >"$work/build.log" 2>&1; then
    tail -n 30 "$work/build.log"
    fail "dpkg-buildpackage failed (the whole log: $work/build.log)"
fi
((failures == 0)) || finish
version=$(cd "$work/src" && dpkg-parsechangelog --show-field Version)
deb=$work/weekend_${version}_$(dpkg --print-architecture).deb
[[ -f $deb ]] || fail "no $deb"
((failures == 0)) || finish
dpkg-deb --info "$deb"
contents=$(dpkg-deb --contents "$deb")
echo "$contents"

echo "--- files"
has() { [[ $contents == *" ./$1"$'\n'* || $contents == *" ./$1" ]]; }
paths=(usr/games/weekend usr/lib/weekend/weekend-door usr/share/man/man6/weekend.6.gz
    usr/share/doc/weekend/copyright usr/share/doc/weekend/changelog.gz usr/share/doc/weekend/NEWS.Debian.gz
    lib/systemd/system/weekend.socket lib/systemd/system/weekend@web.socket lib/systemd/system/weekend@.service
    lib/systemd/system/weekend-web.service usr/lib/tmpfiles.d/weekend.conf)
for file in "$source_dir"/web/*; do
    paths+=("usr/share/weekend/web/${file##*/}")
done
for path in "${paths[@]}"; do
    has "$path" || fail "the package lacks /$path"
done
check "nothing is installed under /etc or /usr/share/weekend/systemd" \
    eval '! grep -qE " \./(etc|usr/share/weekend/systemd)/" <<<"$contents"'
game_entry=$(grep ' \./usr/games/weekend$' <<<"$contents" || true)
check "the game is set-group-ID games: $game_entry" eval '[[ $game_entry == "-rwxr-sr-x root/games "* ]]'
check "the package is in section games" [ "$(dpkg-deb --field "$deb" Section)" = games ]
check "dpkg-shlibdeps filled in the dependencies" eval '[[ $(dpkg-deb --field "$deb" Depends) == *libc6* ]]'
dpkg-deb --fsys-tarfile "$deb" | tar -xO ./usr/games/weekend >"$work/weekend.installed"
check "the game is stripped" eval '! readelf --sections "$work/weekend.installed" | grep -q "\.symtab"'
build_id=$(readelf --notes "$work/weekend.installed" | sed -n 's/.*Build ID: \([0-9a-f]*\).*/\1/p')
dbgsym=$work/weekend-dbgsym_${version}_$(dpkg --print-architecture).deb
debug_contents=$(dpkg-deb --contents "$dbgsym" 2>&1 || true)
check "weekend-dbgsym holds the game's symbols (build ID $build_id)" \
    eval '[[ $debug_contents == *"/usr/lib/debug/.build-id/${build_id:0:2}/${build_id:2}.debug"* ]]'

echo "--- lintian"
chmod -R o+rX "$work"
lintian_command=(lintian --display-info "$work/weekend_${version}_$(dpkg --print-architecture).changes")
if [[ $(id -u) -eq 0 ]]; then
    # lintian advises against running as root; it only needs to read.
    lintian_command=(setpriv --reuid=nobody --regid=nogroup --clear-groups env HOME=/tmp "${lintian_command[@]}")
fi
lintian_output=$("${lintian_command[@]}" 2>&1) || true
echo "${lintian_output:-(nothing)}"
check "lintian reports no errors or warnings" eval '! grep -qE "^[EW]: " <<<"$lintian_output"'

finish "the package is built the Debian way, holds what it should, and lintian is content"
