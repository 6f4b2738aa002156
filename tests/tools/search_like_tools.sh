#!/usr/bin/env bash
# Plays the game's search on page files of several shapes and checks that it
# prints what grep and sed print on the same file:
#
#   search KEY   the line after the first line equal to KEY, as
#                `grep -F -x -m1 -A1 KEY FILE` finds it, or, when no line is
#                equal, "There is nothing to find."
#   search       every text, as `sed -n 'n;p' FILE` prints them, each followed
#                by an empty line, then two closing empty lines
#
#   search_like_tools.sh GAME PAGE_FILE
#
# PAGE_FILE is the path compiled into GAME, in the private folder that
# tests/support/private-pages makes for the test.
set -euo pipefail

# fail and finish.
# shellcheck source=SCRIPTDIR/../support/checks.sh
. "$(dirname "${BASH_SOURCE[0]}")/../support/checks.sh"

game=$1
page_file=$2
[[ ${WEEKEND_PRIVATE_PAGES:-} == "$(dirname "$page_file")" ]] || {
    echo "ERROR: run this through tests/support/private-pages $page_file -- ..."
    exit 2
}
work=$(dirname "$page_file")/.work
mkdir "$work"

lookout='quick look to the left.....\nquick look to the right.....  Nobody there\n\n'
walk='tester\neast\nnortheast\neast\n'

# What the game must print for `search KEY` on FILE, after the line end the
# parser prints and up to the next prompt.
expected_search() { # key, file
    printf '\n'
    printf '%b' "$lookout"
    if grep -F -x -m1 -A1 -- "$1" "$2" >"$work/match"; then
        tail -n +2 "$work/match" >"$work/text"
        if [[ -s $work/text ]]; then
            cat "$work/text"
            printf '\n'
        else # the key was the file's last line: an empty text
            printf '\n\n'
        fi
    else
        printf 'There is nothing to find.\n\n'
    fi
    printf '> '
}

# The same for the bare `search`: every text line of FILE.
expected_listing() { # file
    printf '\nWhere do you want to search something?\n'
    printf '%b' "$lookout"
    sed -n 'n;p' "$1" | sed 's/$/\n/'
    printf '\n\n> '
}

# Walks to the library, searches each key and lists every text, all in one
# game, and compares the whole output with what grep and sed give.
check_file() { # name, then the keys
    local name=$1 key
    shift
    printf '%b' "$walk" | "$game" >"$work/walk.out"
    {
        printf '%b' "$walk"
        for key in "$@"; do
            printf 'search %s\n' "$key"
        done
        printf 'search\n'
    } >"$work/input"
    {
        cat "$work/walk.out"
        for key in "$@"; do
            expected_search "$key" "$page_file"
        done
        expected_listing "$page_file"
    } >"$work/expected"
    local status=0
    "$game" <"$work/input" >"$work/actual" || status=$?
    if [[ $status != 0 ]]; then
        fail "$name: the game exited with status $status"
    elif ! cmp -s "$work/expected" "$work/actual"; then
        local at
        at=$({ cmp "$work/expected" "$work/actual" 2>&1 || true; } | sed -n 's/.* byte \([0-9]*\).*/\1/p')
        at=${at:-1}
        fail "$name (keys: $*): the output differs from grep's and sed's at byte $at" \
            "(expected $(stat -c %s "$work/expected") bytes, got $(stat -c %s "$work/actual"))"
        echo "  expected: $(tail -c +"$at" "$work/expected" | head -c 60 | od -An -c | tr -d '\n')"
        echo "  actual:   $(tail -c +"$at" "$work/actual" | head -c 60 | od -An -c | tr -d '\n')"
    else
        echo "ok: $name ($(stat -c %s "$page_file") bytes, $# keys and the listing)"
    fi
    rm -f "$page_file"
}

# Short records, numbered 1 to 100,000 (about 5 MB): many records cross the
# game's read buffers. Keys: the first, some in the middle, the last record,
# and absent ones (beyond the last, zero, a leading zero, a longer number).
seq 1 100000 | sed 'a the quick brown fox jumps over the lazy dog ' >"$page_file"
check_file "short records" 1 1000 50000 65536 99999 100000 100001 0 007 1000000

# Long texts of 20 KB to 330 KB, numbered 1 to 24: texts cross buffers.
awk 'BEGIN {
    for (i = 1; i <= 24; i++) {
        print i
        words = (i * 7919) % 30000 + 2000
        for (j = 0; j < words; j++) printf "r%dw%d ", i, j
        printf "\n"
    }
}' >"$page_file"
check_file "long texts" 1 13 24 25 r1w0

# Numbers that recur (the oldest record counts), empty texts, texts that are
# a bare number (a key matches them as whole lines too), punctuation, and a
# last record whose number is found nowhere before it.
awk 'BEGIN {
    for (i = 1; i < 3000; i++) {
        print (i * 7) % 211 + 1
        if (i % 5 == 0) print ""
        else if (i % 11 == 0) print (i % 211) + 1
        else print "text " i ": 100% [sic] $HOME *.* \\n {" i % 13 "} ~ quoted \"words\" "
    }
    print 999999
    print "the very last text "
}' >"$page_file"
check_file "recurring numbers and empty texts" 1 2 5 17 100 211 212 999999 "1000"

# An empty page file: nothing to find, and a listing of one empty pass.
: >"$page_file"
check_file "empty page file" 1 42

finish "the game's search printed what grep and sed print on every page file"
