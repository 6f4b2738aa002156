#!/usr/bin/env bash
# The operator's path on a booted Debian 12: the package, built with a short
# idle limit, installed into a fresh Debian 12 root that systemd-nspawn boots
# with systemd as its init and a loopback of its own; the units set up with
# the README's own commands; then, against the real systemd and its sandbox,
# whole games over TCP and WebSocket (hides and searches under the units'
# system-call filters), the connection limits, a flood, idle games, a page
# file at its size limit, the sandbox seen from inside, an upgrade in the
# middle of games, removal and purge.
#
#   booted_test.sh SOURCE_DIR WORK_DIR PACKAGE_DIR
#
# PACKAGE_DIR holds the package as package_test.sh built it, with an idle
# limit of 10 s.
# The root that debootstrap makes is kept between runs in
# /var/cache/weekend-tests/ as a tarball named after what it holds; each run
# boots a fresh copy in WORK_DIR/root, gone when the test ends, however it
# ends. Memory limits are not checked: on these machines' hybrid cgroups (v1
# controllers, cgroup2 only at /sys/fs/cgroup/unified) the systemd in the
# container cannot enforce MemoryMax=.
# Exits 77 (skipped), saying why, without root, a program, the Debian mirror
# (for a first run) or a container that boots here. Once the system is booted
# and the package installed, every failed check fails the test.
set -euo pipefail

idle=10 # seconds without input before a served game ends, in this package
suite=bookworm
mirror=http://deb.debian.org/debian
include=systemd,systemd-sysv,dbus,sudo,websocketd,python3,python3-websocket
cache=/var/cache/weekend-tests
clients=/usr/local/lib/weekend-test # in the root, outside the sandbox's private /tmp
game=/usr/games/weekend
folder=/var/games/weekend
pages=$folder/flags

# skip, fail, check and finish.
# shellcheck source=SCRIPTDIR/../support/checks.sh
. "$(dirname "${BASH_SOURCE[0]}")/../support/checks.sh"
# Runs a command in the booted system, as root, with a clean environment.
in_box() { nsenter --target "$init" --all env -i PATH=/usr/sbin:/usr/bin:/sbin:/bin LANG=C.UTF-8 "$@"; }
# One check of booted_client.py in the booted system; it prints what held.
client() { in_box python3 "$clients/booted_client.py" "$@" || failures=$((failures + 1)); }
expect_mode() {
    local got
    got=$(in_box stat -c '%U:%G %a' "$1" 2>/dev/null || echo missing)
    check "$1 is $got, $2 expected ($3)" [ "$got" = "$2" ]
}
page_sum() { sha256sum <"$root$pages" | cut -c 1-64; }
games_journal() { in_box journalctl -u 'weekend@*' -o cat --since "@$1" --no-pager; }

# The README's commands for the socket unit and the web unit, as written.
readme_commands() {
    awk '/^## / { serving = ($0 == "## Serving it") }
         serving && /^### / { section = $0 }
         serving && (section == "### Terminal clients, with systemd" || section == "### Web browsers") &&
             /^    sudo / { sub(/^    /, ""); print }' "$source_dir/README.md"
}

# The Debian root, made once per package list and kept as a tarball.
cached_root() {
    mkdir -p "$cache"
    exec 9>"$cache/lock"
    flock 9 # runs of this test at the same time make it once
    if [[ ! -f $tarball ]]; then
        wget -q -T 20 -t 2 -O /dev/null "$mirror/dists/$suite/Release" ||
            skip "debootstrap cannot reach $mirror, and no Debian root is cached in $cache"
        echo "debootstrap $suite with $include (a few minutes, once)"
        rm -rf --one-file-system "$work/bootstrap"
        if ! debootstrap --variant=minbase --include="$include" "$suite" "$work/bootstrap" "$mirror" \
            >"$work/debootstrap.log" 2>&1; then
            tail -n 5 "$work/debootstrap.log"
            ! grep -qE "Failed getting release|Couldn't download|Temporary failure" "$work/debootstrap.log" ||
                skip "debootstrap cannot download from $mirror"
            echo "FAIL: debootstrap"
            exit 1
        fi
        tar -C "$work/bootstrap" -cf "$tarball.new" . && mv "$tarball.new" "$tarball"
        rm -rf --one-file-system "$work/bootstrap"
        # Roots of other package lists are not used any more.
        find "$cache" -maxdepth 1 -name "$suite-*.tar" ! -path "$tarball" -delete
    fi
    exec 9>&-
}

# Ends the container (systemd-nspawn shuts it down on SIGTERM) and deletes it.
teardown() {
    if [[ -n ${nspawn:-} ]]; then
        kill -TERM "$nspawn" 2>/dev/null || true
        for ((tick = 0; tick < 300; tick++)); do
            kill -0 "$nspawn" 2>/dev/null || break
            sleep 0.1
        done
        kill -KILL "$nspawn" 2>/dev/null || true
        wait "$nspawn" 2>/dev/null || true
    fi
    rm -rf --one-file-system "$root"
}

source_dir=$1
work=$(realpath -m "$2")
packages=$(realpath -m "$3")
root=$work/root
[[ $(id -u) -eq 0 ]] || skip "booting Debian in a container needs root"
for program in systemd-nspawn debootstrap nsenter wget flock tar dpkg-deb; do
    command -v "$program" >/dev/null || skip "$program is not installed"
done
started=$SECONDS

deb=$(ls "$packages"/weekend_*.deb 2>/dev/null | head -n 1)
[[ -n $deb ]] || skip "no package was built in $packages"
mkdir -p "$work"
# The same package one version on, for the upgrade.
rm -rf "$work/next"
dpkg-deb --raw-extract "$deb" "$work/next"
sed -i 's/^Version: \(.*\)$/Version: \1+1/' "$work/next/DEBIAN/control"
dpkg-deb --build --root-owner-group "$work/next" "$work/weekend-next.deb" >/dev/null
version=$(dpkg-deb --field "$work/weekend-next.deb" Version)

echo "--- a fresh Debian $suite root"
tarball=$cache/$suite-$(sha256sum <<<"$suite $mirror minbase $include" | cut -c 1-16).tar
cached_root
rm -rf --one-file-system "$root"
mkdir -p "$root"
trap teardown EXIT
trap 'exit 1' INT TERM HUP
# A command that fails where nothing checks it says where.
trap 'echo "FAIL: line $LINENO: $BASH_COMMAND"' ERR
tar -C "$root" -xf "$tarball"
cp "$deb" "$root/var/tmp/weekend.deb"
cp "$work/weekend-next.deb" "$root/var/tmp/weekend-next.deb"
mkdir -p "$root$clients" "$root/home/player"
cp "$source_dir"/tests/serve/{booted_client,load_test,sandbox}.py "$root$clients/"
echo "private" >"$root/home/player/notes" # what no game may see
# A host name of its own that resolves, or sudo complains at every command.
echo weekend-booted >"$root/etc/hostname"
echo "127.0.0.1 weekend-booted" >>"$root/etc/hosts"
# apt's daily timers would hold dpkg's lock in the middle of the test.
ln -sf /dev/null "$root/etc/systemd/system/apt-daily.timer"
ln -sf /dev/null "$root/etc/systemd/system/apt-daily-upgrade.timer"
echo "root ready after $((SECONDS - started)) s"

echo "--- boot"
systemd-nspawn --boot --register=no --keep-unit --private-network --machine="weekend-booted-$$" \
    --directory="$root" --console=read-only </dev/null >"$work/boot.log" 2>&1 &
nspawn=$!
init="" state=""
for ((tick = 0; tick < 600; tick++)); do
    kill -0 "$nspawn" 2>/dev/null || skip "systemd-nspawn cannot boot a container here: $(tail -n 2 "$work/boot.log")"
    # The container's systemd (a helper of systemd-nspawn comes first).
    init=$(ps -o pid=,comm= --ppid "$nspawn" | awk '$2 == "systemd" { print $1 }' || true)
    [[ -z $init ]] || state=$(in_box systemctl is-system-running 2>/dev/null || true)
    [[ $state != running && $state != degraded ]] || break
    sleep 0.1
done
[[ $state == running || $state == degraded ]] || skip "the container did not finish booting in 60 s ($state)"
# Its systemd brings its loopback up, unless the container may not configure
# its network here (no CAP_NET_ADMIN, as inside another container): then no
# player could connect.
flags=$(in_box cat /sys/class/net/lo/flags 2>/dev/null || echo 0)
((flags & 1)) || skip "the booted container's loopback is down: it may not configure its network here"
echo "booted ($state) after $((SECONDS - started)) s"

echo "--- install, then the README's commands"
in_box dpkg --install /var/tmp/weekend.deb || {
    echo "FAIL: dpkg --install"
    exit 1
}
expect_mode "$game" "root:games 2755" "set-group-ID games"
expect_mode "$folder" "root:games 2770" "the page file's folder"
expect_mode "$pages" "root:games 660" "the page file"
mapfile -t commands < <(readme_commands)
((${#commands[@]} >= 3)) || fail "the README's sections on the units hold ${#commands[@]} sudo commands"
for command in "${commands[@]}"; do
    echo "\$ $command"
    said=$(in_box sh -c "$command" 2>&1) || fail "the README's command failed: $command"
    [[ -z $said ]] || grep -v "stable CLI interface" <<<"$said" || true
done
for unit in weekend.socket weekend-web.service; do
    [[ $(in_box systemctl is-active "$unit") == active ]] || fail "$unit is not active"
done

echo "--- the units, as the booted systemd loads them"
unit_files=(/lib/systemd/system/weekend.socket /lib/systemd/system/weekend@.service
    /lib/systemd/system/weekend-web.service)
said=$(in_box systemd-analyze verify --man=no "${unit_files[@]}" 2>&1) || said+=" (failed)"
check "systemd-analyze verify says nothing $said" [ -z "$said" ]
said=$(in_box journalctl -b -o cat _PID=1 --no-pager | grep -F /systemd/system/weekend || true)
check "systemd loaded the units without a warning $said" [ -z "$said" ]
ratings=$(in_box systemd-analyze security --no-pager weekend@rating.service weekend-web.service | grep Overall || true)
echo "$ratings"
[[ $ratings == *"weekend@rating.service: "*" SAFE "* ]] || fail "the game's service is not rated SAFE"

echo "--- players, over TCP and WebSocket"
client players

echo "--- a local user who is not in the group games, through the set-group-ID game"
said=$(printf 'Local\neast\nnortheast\neast\ntake book\nwrite page 4711 left by nobody\nhide page 1\nquit\n' |
    in_box setpriv --reuid=nobody --regid=nogroup --clear-groups "$game" 2>&1 || true)
check "nobody hid a page" grep -q "Perfect, no one will ever find it" <<<"$said"
expect_mode "$pages" "root:games 660" "the page file after a local user's hide"

echo "--- the sandbox, seen from inside"
# A process of its own in the sandbox of weekend@.service, where a game
# would not show what it may not do: an instance that runs this client's
# probe instead of the game, with nothing on its standard input.
mkdir -p "$root/etc/systemd/system/weekend@probe.service.d"
printf '[Service]\nType=oneshot\nExecStart=\nExecStart=/usr/bin/python3 %s sandbox\n%s\n%s\n' \
    "$clients/booted_client.py" StandardInput=null StandardOutput=truncate:/run/weekend-probe.out \
    >"$root/etc/systemd/system/weekend@probe.service.d/probe.conf"
in_box systemctl daemon-reload
in_box systemctl start weekend@probe.service || fail "the probe did not pass (weekend@probe.service)"
in_box cat /run/weekend-probe.out

echo "--- connection limits and idle games"
since=$(date +%s)
client limits "$idle"
said=$(games_journal "$since" | grep -c "Failed with result" || true)
check "every game ended well ($said failed)" [ "$said" -eq 0 ]

echo "--- a flood"
counts() { in_box systemctl show -P "$1" weekend.socket; }
accepted=$(counts NAccepted) refused=$(counts NRefused)
client flood 3000
state="$(in_box systemctl is-active weekend.socket || true) $(counts Result)"
check "weekend.socket is still listening ($state)" [ "$state" = "active success" ]
echo "weekend.socket took $(($(counts NAccepted) - accepted)) connections and refused $(($(counts NRefused) - refused))"

echo "--- a page file at its size limit"
kept=$(page_sum)
since=$(date +%s)
full=$root/etc/systemd/system/weekend@.service.d/full.conf
mkdir -p "${full%/*}"
printf '[Service]\nLimitFSIZE=%s\n' "$(stat -c %s "$root$pages")" >"$full"
in_box systemctl daemon-reload
client full 4242
check "the full page file is unchanged" [ "$(page_sum)" = "$kept" ]
line=""
for ((tick = 0; tick < 50 && ${#line} == 0; tick++)); do
    line=$(games_journal "$since" | grep -F "weekend: cannot hide a page in $pages: " | grep "size limit" || true)
    [[ -n $line ]] || sleep 0.1
done
check "a journal line names the page file: $line" [ -n "$line" ]
rm "$full"
in_box systemctl daemon-reload

echo "--- an upgrade while five players are in the middle of a game, with modes set by the administrator"
in_box dpkg-statoverride --update --add root games 2750 "$game"
kept=$(page_sum)
size=$(stat -c %s "$root$pages")
in_box python3 "$clients/booted_client.py" upgrade /run/weekend-upgraded >"$work/upgrade.out" 2>&1 &
players=$!
for ((tick = 0; tick < 600; tick++)); do
    if grep -q '^ready$' "$work/upgrade.out" || ! kill -0 "$players" 2>/dev/null; then break; fi
    sleep 0.1
done
in_box dpkg --install /var/tmp/weekend-next.deb || fail "dpkg --install of version $version"
in_box touch /run/weekend-upgraded
wait "$players" || failures=$((failures + 1))
grep -v '^ready$' "$work/upgrade.out" || true
check "version $version is installed" [ "$(in_box dpkg-query -W -f "\${Version}" weekend)" = "$version" ]
check "the page file kept every byte it had" [ "$(head -c "$size" "$root$pages" | sha256sum | cut -c 1-64)" = "$kept" ]
expect_mode "$game" "root:games 2750" "dpkg-statoverride is respected"
expect_mode "$folder" "root:games 2770" "the page file's folder after the upgrade"
expect_mode "$pages" "root:games 660" "the page file after the upgrade"
in_box dpkg-statoverride --remove "$game"

echo "--- remove, then purge"
kept=$(page_sum)
in_box dpkg --remove weekend >/dev/null
check "remove deleted $game" [ ! -e "$root$game" ]
check "remove kept the page file" [ "$(page_sum)" = "$kept" ]
expect_mode "$folder" "root:games 2770" "the page file's folder after remove"
in_box dpkg --purge weekend >/dev/null
check "purge deleted the page file and its folder" [ ! -e "$root$folder" ]

said=$(games_journal 0 | grep -c "Failed with result" || true)
check "no game failed in the whole run, the flood's included ($said did)" [ "$said" -eq 0 ]
finish "booted test done after $((SECONDS - started)) s"
