#!/usr/bin/env bash
# Measures the weekend game with standard tools and checks it against its
# performance targets (docs/performance.md explains every figure):
#
#   bench/run.sh [--quick] [--out DIR] [--compare REV]
#
#   --quick        small files, few runs: shows that the tooling works; its
#                  figures are not for judging
#   --out DIR      where the results go (default: build-bench/results)
#   --compare REV  also times the game built from git revision REV, side by
#                  side with this one, on the same page files
#
# Builds Release binaries in build-bench/, then runs everything under
# tests/support/private-pages, where /home is a fresh tmpfs, so the machine's
# page file /home/flags is never touched: hyperfine times the game next to
# grep, sed and dd on the same page files (page cache warm), /usr/bin/time -f
# %M takes peak memory, Google Benchmark the in-process figures.
# bench/check_targets.py then reads hyperfine's JSON and prints the table and
# the verdicts. Not a test: nothing here fails because the machine is slow.
set -euo pipefail

root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
build=$root/build-bench

note() { echo "== $*" >&2; }
die() {
    echo "bench/run.sh: $*" >&2
    exit 1
}

# ---------------------------------------------------------------------------
# In the private page-file folder (bench/run.sh starts itself again there).
# ---------------------------------------------------------------------------
measure() {
    [[ ${WEEKEND_PRIVATE_PAGES:-} == /home ]] || die "/home is not a private page-file folder"
    local out=$BENCH_OUT quick=$BENCH_QUICK old_game=$BENCH_OLD_GAME
    local in=/home/inputs flags=/home/flags
    mkdir "$in"

    local game hello old=
    game=$(printf %q "$build/story/weekend")
    hello=$(printf %q "$build/bench/hello_world")
    [[ -z $old_game ]] || old=$(printf %q "$old_game")

    # Full run / quick run sizes.
    pick() { if [[ $quick == 1 ]]; then echo "$2"; else echo "$1"; fi; }
    local short_records long_records=64 small_records=20000 hide_pages line_bytes runs
    short_records=$(pick 20000000 2000000)
    hide_pages=$(pick 100000 1000)
    line_bytes=$(pick 100000000 10000000)
    runs=$(pick 10 3)

    # hyperfine over NAME COMMAND pairs, exported as GROUP.json and GROUP.md;
    # options for hyperfine come first, up to "--". Every command, the game's
    # and the tools' alike, starts as `sh -c 'exec COMMAND'` (the game needs
    # the redirection) and hyperfine runs that without a shell of its own:
    # its correction for its shell's start is too coarse for figures of a few
    # milliseconds. With --direct, the commands start without any shell and
    # with an empty standard input. Exit statuses are kept (grep exits with 1
    # for the absent key) and judged by check_targets.py.
    timed() { # group, [--direct], hyperfine options..., --, name, command, name, command...
        local group=$1 direct=0 options=() commands=()
        shift
        while [[ $1 != -- ]]; do
            if [[ $1 == --direct ]]; then direct=1; else options+=("$1"); fi
            shift
        done
        shift
        while (($#)); do
            if ((direct)); then commands+=(-n "$1" "$2"); else commands+=(-n "$1" "$(printf 'sh -c %q' "exec $2")"); fi
            shift 2
        done
        note "$group"
        hyperfine --style basic -N --ignore-failure "${options[@]}" \
            --export-json "$out/$group.json" --export-markdown "$out/$group.md" "${commands[@]}" >&2
    }

    # Peak RSS (KiB, the largest of 3 runs) of NAME COMMAND pairs, one line
    # each in peak.tsv: group, name, KiB.
    peaks() { # group, name, command, name, command...
        local group=$1 kib max
        shift
        while (($#)); do
            max=0
            for _ in 1 2 3; do
                /usr/bin/time -f %M -o "$in/peak" sh -c "$2" >/dev/null 2>&1 || true
                kib=$(tail -n 1 "$in/peak")
                ((kib > max)) && max=$kib
            done
            printf '%s\t%s\t%s\n' "$group" "$1" "$max" >>"$out/peak.tsv"
            shift 2
        done
    }

    # The player's scripts.
    local walk='bench\neast\nnortheast\neast\n'
    printf 'bench\n' >"$in/name.in"
    printf '%b' "$walk" >"$in/walk.in"
    printf '%bsearch\n' "$walk" >"$in/listing.in"
    session() {
        awk -v n="$1" 'BEGIN {
            split("e s look e n look s w n ne look n n look s s e look w sw w look", trip, " ")
            print "bench"
            for (i = 0; i < n; i++) print trip[i % 22 + 1]
        }'
    }
    write() { # takes the book and writes pages 1 to N, each "note I" and 4 to 12 words
        printf '%btake book\n' "$walk"
        awk -v n="$1" 'BEGIN {
            for (i = 1; i <= n; i++) {
                printf "write page %d note %d", i, i
                for (w = 0; w < i % 9 + 4; w++) printf " words"
                printf "\n"
            }
        }'
    }
    session 1000 >"$in/session_1000.in"
    session 100000 >"$in/session_100000.in"
    write 0 >"$in/write_0.in"
    write 1000 >"$in/write_1000.in"
    write 100000 >"$in/write_100000.in"
    write "$hide_pages" >"$in/hide_none.in"
    { write "$hide_pages" && awk -v n="$hide_pages" 'BEGIN { for (i = 0; i < n; i++) print "hide page 1" }'; } \
        >"$in/hide_each.in"
    { write "$hide_pages" && echo "hide pages 1 to $hide_pages"; } >"$in/hide_run.in"

    timed startup --direct --runs "$(pick 200 20)" --warmup 5 -- hello "$hello" startup "$game"
    timed session --runs "$(pick 100 20)" --warmup 2 -- \
        name "$game < $in/name.in" \
        session-1000 "$game < $in/session_1000.in" \
        session-100000 "$game < $in/session_100000.in"
    timed write --runs "$(pick 100 20)" --warmup 2 -- \
        write-0 "$game < $in/write_0.in" \
        write-1000 "$game < $in/write_1000.in" \
        write-100000 "$game < $in/write_100000.in"
    timed hide --runs "$(pick 3 2)" --warmup 0 --prepare "rm -f $flags" -- \
        hide-none "$game < $in/hide_none.in" \
        hide-each "$game < $in/hide_each.in" \
        hide-run "$game < $in/hide_run.in"
    echo "$hide_pages" >"$out/hide.tsv"
    rm -f "$flags" "$in"/session_* "$in"/write_* "$in"/hide_*

    # Page files: two-line records, number and text.
    note "making the page files"
    local phrase='the quick brown fox jumps over the lazy dog '
    seq 1 "$short_records" | sed "a $phrase" >/home/short.pages
    seq 1 "$small_records" | sed "a $phrase" >/home/small.pages
    awk -v n="$long_records" -v phrase="$phrase" 'BEGIN {
        text = phrase
        while (length(text) < 1000000) text = text text
        text = substr(text, 1, int((1000000 + length(phrase) - 1) / length(phrase)) * length(phrase))
        for (i = 1; i <= n; i++) { print i; print text }
    }' >/home/long.pages
    : >"$out/pagefiles.tsv"

    # The game next to grep, sed and dd on one page file, as /home/flags:
    # peak memory, then (but for the small file) the times.
    search_group() { # label, page file, records (the last record's number)
        local label=$1 file=$2 last=$3 absent=$(($3 + 1)) commands
        ln -f "$file" "$flags"
        printf '%bsearch %s\n' "$walk" "$last" >"$in/search_last.in"
        printf '%bsearch %s\n' "$walk" "$absent" >"$in/search_absent.in"
        printf '%s\t%s\t%s\t%s\n' "$label" "$(stat -c %s "$file")" "$last" "$absent" >>"$out/pagefiles.tsv"
        commands=(
            walk "$game < $in/walk.in"
            search-last "$game < $in/search_last.in"
            search-absent "$game < $in/search_absent.in"
            listing "$game < $in/listing.in"
            grep-last "grep -F -x -m1 -A1 $last $flags"
            grep-absent "grep -F -x -m1 -A1 $absent $flags"
            sed "sed -n 'n;p' $flags"
            dd "dd if=$flags of=/dev/null bs=256K status=none"
        )
        peaks "$label" "${commands[@]}"
        if [[ -n $old ]]; then
            commands+=(
                old-walk "$old < $in/walk.in"
                old-search-last "$old < $in/search_last.in"
                old-search-absent "$old < $in/search_absent.in"
                old-listing "$old < $in/listing.in"
            )
        fi
        [[ $label == small ]] || timed "search-$label" --runs "$runs" --warmup 2 -- "${commands[@]}"
        rm -f "$flags"
    }
    search_group short /home/short.pages "$short_records"
    search_group long /home/long.pages "$long_records"
    search_group small /home/small.pages "$small_records"

    note "in-process figures (Google Benchmark)"
    "$build/bench/game_bench" --benchmark_min_time="$(pick 0.5 0.05)" \
        --benchmark_out="$out/inprocess.json" --benchmark_out_format=json \
        "short=/home/short.pages:$short_records:$((short_records + 1))" \
        "long=/home/long.pages:$long_records:$((long_records + 1))" >&2
    rm -f /home/*.pages

    note "one line of $line_bytes bytes of one-letter words, written on a page"
    {
        printf '%btake book\nwrite page 1 ' "$walk"
        head -n $((line_bytes / 2)) < <(yes a) | tr '\n' ' '
        echo
    } >"$in/line.in"
    local length
    length=$(($(sed -n 6p "$in/line.in" | wc -c) - 1))
    /usr/bin/time -f '%M %e %x' -o "$in/line.time" sh -c "$game < $in/line.in" >/dev/null || true
    printf '%s\t%s\n' "$length" "$(tail -n 1 "$in/line.time" | tr ' ' '\t')" >"$out/line.tsv"
    rm -rf "$in"
}

if [[ ${1:-} == --inside ]]; then
    measure
    exit 0
fi

# ---------------------------------------------------------------------------
# Outside: options, build, machine, then the namespace and the verdicts.
# ---------------------------------------------------------------------------
quick=0 out=$build/results compare=
while (($#)); do
    case $1 in
    --quick) quick=1 ;;
    --out) out=${2:?--out needs a folder} && shift ;;
    --compare) compare=${2:?--compare needs a git revision} && shift ;;
    *) die "usage: bench/run.sh [--quick] [--out DIR] [--compare REV]" ;;
    esac
    shift
done
"$root/tools/need-packages" cmake ninja-build g++ libbenchmark-dev python3 hyperfine time util-linux
need_kib=$((quick == 1 ? 2 * 1024 * 1024 : 8 * 1024 * 1024))
available_kib=$(awk '/^MemAvailable:/ { print $2 }' /proc/meminfo)
((available_kib >= need_kib)) ||
    die "needs $((need_kib / 1024 / 1024)) GiB of free memory (page files in a tmpfs, a long line), has $((available_kib / 1024)) MiB"

# The page file is named explicitly: every game here must use the tmpfs's.
page_file_option=(--no-warn-unused-cli -DWEEKEND_PAGE_FILE=/home/flags)
note "building Release binaries in $build"
cmake -S "$root" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release -DWEEKEND_BENCH=ON -DWEEKEND_TESTS=OFF \
    "${page_file_option[@]}" >/dev/null
cmake --build "$build" --target weekend hello_world game_bench >/dev/null
old_game=
if [[ -n $compare ]]; then
    revision=$(git -C "$root" rev-parse --short --verify "$compare^{commit}") || die "no such revision: $compare"
    note "building the game of $revision for comparison"
    rm -rf "$build/compare-$revision"
    mkdir -p "$build/compare-$revision/src"
    git -C "$root" archive "$revision" | tar -x -C "$build/compare-$revision/src"
    cmake -S "$build/compare-$revision/src" -B "$build/compare-$revision/build" -G Ninja \
        -DCMAKE_BUILD_TYPE=Release -DWEEKEND_TESTS=OFF -DWEEKEND_BENCH=OFF "${page_file_option[@]}" >/dev/null
    cmake --build "$build/compare-$revision/build" --target weekend >/dev/null
    old_game=$build/compare-$revision/build/story/weekend
fi

mkdir -p "$out"
rm -f "$out"/{startup,session,write,hide,search-short,search-long}.{json,md} "$out"/inprocess.json \
    "$out"/{peak,line,pagefiles,hide,machine}.tsv "$out"/table.md
command="bench/run.sh"
[[ $quick == 0 ]] || command+=" --quick"
[[ -z $compare ]] || command+=" --compare $compare"
{
    echo "command	$command"
    echo "date	$(date -u '+%Y-%m-%d %H:%M UTC')"
    echo "commit	$(git -C "$root" rev-parse --short HEAD)$(git -C "$root" diff --quiet HEAD || echo ' (with changes)')"
    [[ -z $compare ]] || echo "compared with	$revision"
    echo "cpu	$(lscpu | sed -n 's/^Model name: *//p' | head -n 1), $(nproc) CPUs$(lscpu | sed -n 's/^Hypervisor vendor: */, virtual machine on /p')"
    echo "system	$(sed -n 's/^PRETTY_NAME="\(.*\)"/\1/p' /etc/os-release), $(uname -sr)"
    echo "memory	$(awk '/^MemTotal:/ { printf "%.1f GiB", $2 / 1048576 }' /proc/meminfo)"
    echo "compiler	$(g++ --version | head -n 1)"
    echo "tools	$(hyperfine --version), $(grep --version | head -n 1), $(sed --version | head -n 1)"
    echo "page files	tmpfs on /home (in a private mount namespace)"
    echo "load average	$(cut -d ' ' -f 1-3 /proc/loadavg)"
} >"$out/machine.tsv"

BENCH_OUT=$out BENCH_QUICK=$quick BENCH_OLD_GAME=$old_game \
    "$root/tests/support/private-pages" /home/flags -- bash "${BASH_SOURCE[0]}" --inside
python3 "$root/bench/check_targets.py" "$out" | tee "$out/table.md"
