#!/bin/bash
# Measures a keyed search for an absent key through a 1 GiB page file, next
# to `grep -F -x -m1 -A1` on the same file, and the search's peak memory.
# Not part of the test suite: run it by hand, as root (it needs a private
# mount namespace to put the file at /home/flags without touching the real one).
#
#   bench/pagestore/search.sh [WEEKEND_BINARY] [SIZE_MIB]
#
# The file is built in a temporary directory under /tmp and deleted at the end.
set -euo pipefail

game=$(realpath "${1:-build-pages/story/weekend}")
size_mib=${2:-1024}
runs=5
key=999999999999999   # no record carries this number

dir=$(mktemp -d /tmp/pagestore-bench-XXXXXX)
trap 'rm -rf "$dir"' EXIT

# One chunk of 16 MiB of records, texts of 8 to 4000 bytes, repeated up to the size.
awk -v target=$((16 * 1024 * 1024)) 'BEGIN {
    srand(7); n = 0; size = 0
    while (size < target) {
        n++; len = 8 + int(rand() * 3992); text = ""
        while (length(text) < len) text = text sprintf("w%06d ", int(rand() * 1000000))
        line = n "\n" text "\n"; printf "%s", line; size += length(line)
    }
}' > "$dir/chunk"
: > "$dir/flags"
while [ "$(stat -c %s "$dir/flags")" -lt $((size_mib * 1024 * 1024)) ]; do
    cat "$dir/chunk" >> "$dir/flags"
done
rm "$dir/chunk"
printf 'Bencher\neast\nnortheast\neast\nsearch %s\nquit\n' "$key" > "$dir/input"
echo "page file: $(stat -c %s "$dir/flags") bytes, $(grep -c '' "$dir/flags") lines"
cat "$dir/flags" > /dev/null   # both start from a warm page cache

# Runs the game with $dir as /home; the rest of the command line follows.
in_home() {
    unshare -m sh -c 'mount --make-rprivate / && mount --bind "$0" /home && shift 0 && exec "$@"' "$dir" "$@"
}

best() { sort -n | head -1; }

game_times=()
grep_times=()
for _ in $(seq $runs); do
    game_times+=("$(in_home sh -c 'start=$(date +%s.%N); "$0" < "$1" > "$2"; end=$(date +%s.%N); echo "$end - $start" | bc' \
        "$game" "$dir/input" "$dir/game.out")")
    grep_times+=("$( (start=$(date +%s.%N); grep -F -x -m1 -A1 "$key" "$dir/flags" > /dev/null || true; end=$(date +%s.%N); echo "$end - $start" | bc) )")
done
grep -q "There is nothing to find." "$dir/game.out" || { echo "the game did not search as expected"; exit 1; }

game_best=$(printf '%s\n' "${game_times[@]}" | best)
grep_best=$(printf '%s\n' "${grep_times[@]}" | best)
echo "game search, best of $runs: ${game_best} s   (runs: ${game_times[*]})"
echo "grep -F -x -m1 -A1, best of $runs: ${grep_best} s   (runs: ${grep_times[*]})"
echo "ratio game/grep: $(echo "scale=2; $game_best / $grep_best" | bc)"

# grep finds nothing and exits with 1; only the report of time matters here.
game_rss=$( (in_home /usr/bin/time -v "$game" < "$dir/input" 2>&1 >/dev/null || true) | awk -F': ' '/Maximum resident/ {print $2}')
grep_rss=$( (/usr/bin/time -v grep -F -x -m1 -A1 "$key" "$dir/flags" 2>&1 >/dev/null || true) | awk -F': ' '/Maximum resident/ {print $2}')
echo "peak memory: game ${game_rss} KiB, grep ${grep_rss} KiB"
