#!/usr/bin/env bash
# Whole-process measurements of the weekend binary. Started by bench/run.sh
# through `unshare -m`, so that it runs in a mount namespace of its own: it
# mounts a tmpfs on /home there, and every game it starts uses that
# /home/flags, never the machine's real page file.
#
#   process_bench.sh BUILD_DIR WORK_DIR OUTER_MOUNT_NAMESPACE QUICK(0|1)
#
# Appends one line per figure to WORK_DIR/process.txt (the format of
# proc_timer) and one line per correctness check to WORK_DIR/checks.txt.
set -euo pipefail

build=$1
work=$2
outer_ns=$3
quick=$4

die() {
    echo "process_bench: $*" >&2
    exit 1
}

# Refuse to go on unless /home is a tmpfs of this namespace alone.
[[ "$(readlink /proc/self/ns/mnt)" != "$outer_ns" ]] || die "not in a private mount namespace"
mount --make-rprivate / 2>/dev/null || true
mount -t tmpfs -o size=2400m,mode=0755 weekend-bench /home || die "cannot mount a tmpfs on /home"
[[ "$(stat -f -c %T /home)" == tmpfs ]] || die "/home is not the private tmpfs"
[[ -z "$(ls -A /home)" ]] || die "/home is not empty"

game=$build/story/weekend
timer=$build/bench/proc_timer
make_input=$build/bench/make_input
results=$work/process.txt
checks=$work/checks.txt
: >"$results"
: >"$checks"

runs() { # full-run count, quick-run count
    if [[ $quick == 1 ]]; then echo "$2"; else echo "$1"; fi
}

note() { echo "  $*" >&2; }

check() { # name, then a command that must succeed
    local name=$1
    shift
    if "$@"; then
        echo "$name ok" >>"$checks"
    else
        echo "$name FAILED" >>"$checks"
        note "check failed: $name"
    fi
}

# ---- Start-up: the game against a C++ hello world ----
note "start-up"
: >"$work/eof.in"
printf 'bench\n' >"$work/name.in"
printf 'bench\nquit\n' >"$work/name_quit.in"
"$timer" -n "$(runs 300 40)" -w 5 -- \
    hello /dev/null "$build/bench/hello_world" :: \
    startup_eof "$work/eof.in" "$game" :: \
    startup_name_quit "$work/name_quit.in" "$game" >>"$results"

# ---- Sessions of walking and looking around ----
note "sessions"
"$make_input" session 1000 >"$work/session_1000.in"
"$make_input" session 100000 >"$work/session_100000.in"
# The short session is a few milliseconds on top of the start-up that is
# subtracted from it: it needs many runs, next to its baseline.
"$timer" -n "$(runs 51 11)" -t 300 -- \
    startup_name "$work/name.in" "$game" :: \
    session_1000 "$work/session_1000.in" "$game" >>"$results"
"$timer" -n "$(runs 7 3)" -t 300 -- \
    session_100000 "$work/session_100000.in" "$game" >>"$results"
"$game" <"$work/session_1000.in" >"$work/session.out"
check session_walks_the_town grep -q '^Back Alley$' "$work/session.out"

# ---- Writing pages ----
note "writing pages"
"$make_input" write 0 >"$work/write_0.in"
"$make_input" write 1000 >"$work/write_1000.in"
"$make_input" write 100000 >"$work/write_100000.in"
"$timer" -n "$(runs 51 11)" -t 600 -- \
    write_0 "$work/write_0.in" "$game" :: \
    write_1000 "$work/write_1000.in" "$game" >>"$results"
"$timer" -n "$(runs 7 2)" -t 600 -- \
    write_100000 "$work/write_100000.in" "$game" >>"$results"
{
    cat "$work/write_1000.in"
    echo "inventory"
} | "$game" >"$work/write.out"
check write_1000_pages grep -q '1000 page(s) out of the book' "$work/write.out"

# ---- Searching page files, against grep and sed on the same file ----
"$make_input" walk >"$work/walk.in"
: >"$work/empty"
"$make_input" search >"$work/listing.in"
for size in 1MB 100MB 1GiB; do
    case $size in
    1MB) bytes=1000000 n=$(runs 31 7) ;;
    100MB) bytes=100000000 n=$(runs 9 3) ;;
    1GiB) bytes=1073741824 n=$(runs 5 2) ;;
    esac
    if [[ $quick == 1 && $size == 1GiB ]]; then
        continue
    fi
    note "page file of $size"
    read -r records actual present absent < <("$make_input" pagefile /home/flags "$bytes" "$bytes")
    echo "pagefile_$size $records $actual $present $absent" >>"$work/pagefiles.txt"
    "$make_input" search "$present" >"$work/search_present.in"
    "$make_input" search "$absent" >"$work/search_absent.in"
    # grep exits with 1 when it finds nothing: the absent key.
    "$timer" -n "$n" -t 600 -e 1 -- \
        "walk_$size" "$work/walk.in" "$game" :: \
        "search_present_$size" "$work/search_present.in" "$game" :: \
        "grep_present_$size" /dev/null grep -F -x -m1 -A1 "$present" /home/flags :: \
        "search_absent_$size" "$work/search_absent.in" "$game" :: \
        "grep_absent_$size" /dev/null grep -F -x -m1 -A1 "$absent" /home/flags :: \
        "listing_$size" "$work/listing.in" "$game" :: \
        "sed_$size" /dev/null sed -n 'n;p' /home/flags :: \
        "grep_start_$size" /dev/null grep -F -x -m1 -A1 "$absent" "$work/empty" :: \
        "sed_start_$size" /dev/null sed -n 'n;p' "$work/empty" >>"$results"

    # The game must print what grep and sed print.
    grep -F -x -m1 -A1 "$present" /home/flags | tail -n 1 >"$work/expected_text"
    "$game" <"$work/search_present.in" >"$work/search.out"
    check "search_present_$size" grep -q -F -x -f "$work/expected_text" "$work/search.out"
    "$game" <"$work/search_absent.in" >"$work/search.out"
    check "search_absent_$size" grep -q -F -x 'There is nothing to find.' "$work/search.out"
    listing_sum=$("$game" <"$work/listing.in" | grep ' $' | grep -v -x '> ' | md5sum)
    sed_sum=$(sed -n 'n;p' /home/flags | md5sum)
    check "listing_$size" test "$listing_sum" == "$sed_sum"
    rm -f /home/flags "$work/search.out" "$work/expected_text"
done

# ---- Sixteen games hiding pages into one page file at once ----
note "16 games hiding pages at once"
copies=16
pages=200
for ((i = 0; i < copies; i++)); do
    "$make_input" hide "$pages" $(((i + 1) * 1000000)) >"$work/hide_$i.in"
done
# What the page file must hold afterwards: every page once, whole.
for ((i = 0; i < copies; i++)); do
    awk '/^write page /{ n = $3; $1 = $2 = $3 = ""; sub(/^ +/, ""); print n "\t" $0 " " }' "$work/hide_$i.in"
done | LC_ALL=C sort >"$work/hide_expected"

# One round: RUNS runs of sixteen games into an empty page file, each run
# checked, then one game alone; results under the names PREFIX16, PREFIX1.
hide_round() { # prefix, runs of sixteen, runs of one
    local prefix=$1 sixteen=$2 one=$3 r
    : >"$work/$prefix.txt"
    for ((r = 0; r < sixteen; r++)); do
        rm -f /home/flags
        "$timer" -n 1 -w 0 -j "$copies" -t 600 -- "${prefix}16" "$work/hide_%d.in" "$game" >>"$work/$prefix.txt"
        if [[ -f /home/flags ]]; then
            awk 'NR % 2 == 1 { n = $0; next } { print n "\t" $0 }' /home/flags | LC_ALL=C sort >"$work/hide_got"
        else
            : >"$work/hide_got"
        fi
        check "${prefix}16_run$r" cmp -s "$work/hide_expected" "$work/hide_got"
    done
    # Median over the runs of sixteen, in proc_timer's format.
    if grep -q -E ' (timeout|failed)' "$work/$prefix.txt"; then
        grep -m1 -E ' (timeout|failed)' "$work/$prefix.txt" >>"$results"
    else
        local times peaks cpus n
        mapfile -t times < <(awk '{ print $2 }' "$work/$prefix.txt" | sort -g)
        mapfile -t peaks < <(awk '{ print $5 }' "$work/$prefix.txt" | sort -n)
        mapfile -t cpus < <(awk '{ print $8 }' "$work/$prefix.txt" | sort -g)
        n=${#times[@]}
        echo "${prefix}16 ${times[n / 2]} ${times[0]} ${times[n - 1]} ${peaks[n / 2]} ${peaks[n - 1]} $n" \
            "${cpus[n / 2]}" >>"$results"
    fi
    # The same work done by one game alone, for comparison.
    rm -f /home/flags
    "$timer" -n "$one" -w 0 -t 600 -- "${prefix}1" "$work/hide_0.in" "$game" >>"$results"
    rm -f /home/flags
}

hide_round hide "$(runs 5 3)" "$(runs 5 3)"

# The same with the page file on the machine's root file system instead of
# a tmpfs: each hidden record is made durable on the disk before the next
# game may append. A directory under WORK is bound onto /home, in this
# namespace only.
mkdir "$work/diskhome"
disk_fstype=$(findmnt -n -o FSTYPE --target "$work/diskhome")
note "16 games hiding pages at once, page file on $disk_fstype (the root file system)"
mount --bind "$work/diskhome" /home
[[ "$(stat -f -c %T /home)" != tmpfs ]] || die "cannot bind the disk directory onto /home"
hide_round diskhide "$(runs 3 1)" "$(runs 3 1)"
echo "diskhide_fstype $disk_fstype" >>"$work/pagefiles.txt"
umount /home

umount /home
