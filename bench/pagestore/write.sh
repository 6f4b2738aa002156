#!/bin/bash
# Measures writing many pages in one game: 25,000 to 100,000 write commands,
# to show that the time grows linearly with the pages. Not part of the test
# suite. Writing never touches the page file; the game still runs with a
# fresh tmpfs on /home (as root) so that the real page file stays out of it.
#
#   bench/pagestore/write.sh [WEEKEND_BINARY]
set -euo pipefail

game=$(realpath "${1:-build-pages/story/weekend}")
runs=3
dir=$(mktemp -d /tmp/pagestore-write-XXXXXX)
trap 'rm -rf "$dir"' EXIT

for pages in 25000 50000 100000; do
    {
        printf 'Bencher\neast\nnortheast\neast\ntake book\n'
        awk -v n=$pages 'BEGIN { for (i = 1; i <= n; i++) printf "write page %d a few words on page %d\n", i, i }'
        printf 'inventory\nquit\n'
    } > "$dir/input"
    times=()
    for _ in $(seq $runs); do
        times+=("$(unshare -m sh -c 'mount --make-rprivate / && mount -t tmpfs tmpfs /home &&
            start=$(date +%s.%N); "$0" < "$1" > "$2"; end=$(date +%s.%N); echo "$end - $start" | bc' \
            "$game" "$dir/input" "$dir/out")")
    done
    grep -q "^$pages page(s) out of the book$" "$dir/out" || { echo "the game did not hold $pages pages"; exit 1; }
    best=$(printf '%s\n' "${times[@]}" | sort -n | head -1)
    echo "$pages pages: best of $runs ${best} s, $(echo "scale=3; $best * 1000000 / $pages" | bc) us per page   (runs: ${times[*]})"
done
