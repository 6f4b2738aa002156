#!/usr/bin/env bash
# The Debian package, built and then installed, played, upgraded, removed and
# purged in a throw-away root: an overlay of this machine's / whose changes
# go to a tmpfs, in a private mount namespace, entered with chroot. Nothing
# of it reaches the real system.
#
#   package_test.sh SOURCE_DIR WORK_DIR
#
# The package is built in WORK_DIR, and the throw-away root is mounted on
# WORK_DIR/root while the test runs.
# Checks the modes and owners the maintainer scripts set, that the page file
# survives upgrade and removal byte for byte and goes with purge, that two
# ordinary users can both hide pages, and so can a game run as the service
# runs it (group games, no new privileges, umask 0007), also when it has to
# make the page file anew, that the units pass systemd-analyze
# verify against the installed tree, and the services' security ratings.
# Exits 77 (skipped), saying why, where it lacks root or a program.
set -euo pipefail

skip() {
    echo "SKIPPED: $*"
    exit 77
}
fail() {
    echo "FAIL: $*"
    failures=$((failures + 1))
}
failures=0

game=/usr/games/weekend
folder=/var/games/weekend
pages=$folder/flags
units=/usr/share/weekend/systemd

# Runs in the throw-away root: every command of the checks goes through here.
in_root() { chroot "$root" "$@"; }
mode_of() { in_root stat -c '%U:%G %a' "$1" 2>/dev/null || echo missing; }
expect_mode() {
    local got
    got=$(mode_of "$1")
    [[ $got == "$2" ]] || fail "$1 is $got, not $2 ($3)"
}

# A player walks to the library and hides a page, the game running with the
# given umask under setpriv with the given options.
hide_page() {
    local number=$1 who=$2 umask=$3 output
    shift 3
    # shellcheck disable=SC2016 # the inner shell expands them
    output=$(printf 'Tester\neast\nnortheast\neast\ntake book\nwrite page %s left by %s\nhide page 1\nquit\n' \
        "$number" "$who" | in_root setpriv "$@" sh -c 'umask "$1" && exec "$0"' "$game" "$umask")
    [[ $output == *"Perfect, no one will ever find it"* ]] || fail "$who could not hide a page: ${output: -300}"
}
# As weekend@.service runs the game: a user of its own in the group games,
# without new privileges (the set-group-ID bit does not apply), umask 0007.
as_service=(--reuid=nobody --regid=nogroup --groups=games --no-new-privs --bounding-set=-all)

inside() {
    deb=$1
    root=$2
    mount -t tmpfs -o size=512m tmpfs "$root"
    mkdir "$root/upper" "$root/work" "$root/root"
    mount -t overlay overlay -o "lowerdir=/,upperdir=$root/upper,workdir=$root/work" "$root/root" ||
        skip "cannot mount an overlay of / (overlayfs)"
    root=$root/root
    for dir in proc dev sys; do
        mount --rbind "/$dir" "$root/$dir"
    done
    mount -t tmpfs tmpfs "$root/tmp"
    cp "$deb" "$root/tmp/weekend.deb"
    # Start from a machine without the game, whatever this one has.
    in_root dpkg --purge weekend >/dev/null 2>&1 || true
    in_root rm -rf "$folder"

    echo "--- install"
    in_root dpkg --install /tmp/weekend.deb
    expect_mode "$game" "root:games 2755" "set-group-ID games"
    expect_mode "$folder" "root:games 2770" "the page file's folder"
    expect_mode "$pages" "root:games 660" "the page file"
    [[ ! -s $root$pages ]] || fail "a new page file is not empty"

    echo "--- two ordinary users hide a page each, and a game run as the service runs it"
    hide_page 4711 nobody 0022 --reuid=nobody --regid=nogroup --clear-groups
    hide_page 4712 daemon 0022 --reuid=daemon --regid=nogroup --clear-groups
    hide_page 4713 service 0007 "${as_service[@]}"
    expected=$'4711\nleft by nobody \n4712\nleft by daemon \n4713\nleft by service \n'
    [[ $(cat "$root$pages"; echo .) == "$expected." ]] || fail "the page file holds: $(head -c 300 "$root$pages")"
    expect_mode "$pages" "root:games 660" "the page file after hiding"
    # A page file the served game has to make anew is for the group games too.
    mv "$root$pages" "$root$pages.kept"
    hide_page 4714 service 0007 "${as_service[@]}"
    expect_mode "$pages" "nobody:games 660" "a page file made by the served game"
    mv "$root$pages.kept" "$root$pages"
    kept=$(sha256sum <"$root$pages")

    echo "--- the units, against the installed tree"
    to_verify=("$units/weekend.socket" "$units/weekend@.service")
    if [[ -x $root/usr/bin/websocketd ]]; then
        to_verify+=("$units/weekend-web.service")
    else
        echo "weekend-web.service not verified: websocketd is not installed"
    fi
    in_root systemd-analyze verify "${to_verify[@]}" || fail "systemd-analyze verify ${to_verify[*]}"
    for unit in weekend@.service weekend-web.service; do
        rating=$(in_root systemd-analyze security --offline=true "$units/$unit" 2>&1 | grep 'Overall exposure level') ||
            fail "systemd-analyze security $unit"
        echo "$rating"
    done
    [[ $(in_root systemd-analyze security --offline=true "$units/weekend@.service" 2>&1) == *" SAFE "* ]] ||
        fail "the game's service is not rated SAFE"

    echo "--- upgrade, with modes set by the administrator"
    in_root dpkg-statoverride --update --add root games 2750 "$game"
    dpkg-deb --raw-extract "$deb" "$root/tmp/next"
    sed -i 's/^Version: \(.*\)$/Version: \1+1/' "$root/tmp/next/DEBIAN/control"
    dpkg-deb --build --root-owner-group "$root/tmp/next" "$root/tmp/weekend-next.deb" >/dev/null
    in_root dpkg --install /tmp/weekend-next.deb
    expect_mode "$game" "root:games 2750" "dpkg-statoverride is respected"
    [[ $(sha256sum <"$root$pages") == "$kept" ]] || fail "the upgrade changed the page file"
    expect_mode "$pages" "root:games 660" "the page file after the upgrade"
    in_root dpkg-statoverride --remove "$game"

    echo "--- remove"
    in_root dpkg --remove weekend
    [[ ! -e $root$game ]] || fail "$game is still there after remove"
    [[ $(sha256sum <"$root$pages") == "$kept" ]] || fail "remove changed the page file"
    expect_mode "$folder" "root:games 2770" "the page file's folder after remove"

    echo "--- install again, then purge"
    in_root dpkg --install /tmp/weekend.deb
    [[ $(sha256sum <"$root$pages") == "$kept" ]] || fail "installing again changed the page file"
    expect_mode "$game" "root:games 2755" "set-group-ID games once more"
    in_root dpkg --purge weekend
    [[ ! -e $root$pages ]] || fail "the page file is still there after purge"
    [[ ! -e $root$folder ]] || fail "$folder is still there after purge"

    if ((failures > 0)); then
        echo "$failures check(s) failed"
        exit 1
    fi
    echo "install, hide, upgrade, remove and purge: all as expected"
}

if [[ ${1:-} == --inside ]]; then
    inside "$2" "$3"
    exit
fi

source_dir=$1
work=$2
[[ $(id -u) -eq 0 ]] || skip "installing packages into a throw-away root needs root"
for program in cpack dpkg-deb dpkg-shlibdeps dpkg-buildflags lintian systemd-analyze unshare chroot setpriv readelf; do
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
    ./usr/share/weekend/web/index.html; do
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
! grep -q '^E: ' <<<"$lintian_output" || fail "lintian reports errors"

echo "--- in a throw-away root"
unshare --mount true 2>/dev/null || skip "cannot enter a private mount namespace (unshare --mount)"
status=0
mkdir -p "$work/root"
unshare --mount --propagation private "$0" --inside "$deb" "$work/root" || status=$?
((status != 77)) || exit 77
((status == 0)) || failures=$((failures + 1))
exit $((failures > 0))
