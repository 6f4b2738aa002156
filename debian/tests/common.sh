# What the as-installed tests share, sourced by each: the shell tests'
# skip, fail, check and finish; where the package puts the game and its
# page file; the players; the README's commands; probes that run in place
# of a unit's command, under that unit's sandbox.
# shellcheck shell=bash
set -euo pipefail
# systemctl and apt write notes to standard error, which autopkgtest would
# take for a failure; they go with the rest of the output.
exec 2>&1

tests_dir=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
source_dir=$(cd "$tests_dir/../.." && pwd)
# shellcheck source=../../tests/support/checks.sh
. "$source_dir/tests/support/checks.sh"

game=/usr/games/weekend
folder=/var/games/weekend
pages=$folder/flags
# The players, where a unit's sandbox can read them too (it has a /tmp of
# its own and no home folders).
clients=/run/weekend-tests
mkdir -p "$clients"
cp "$tests_dir/players.py" "$source_dir"/tests/serve/{load_test,sandbox}.py "$clients/"
export PYTHONDONTWRITEBYTECODE=1

# One check of players.py; it prints what held.
client() { python3 "$clients/players.py" "$@" || failures=$((failures + 1)); }
expect_mode() {
    local got
    got=$(stat -c '%U:%G %a' "$1" 2>/dev/null || echo missing)
    check "$1 is $got, $2 expected ($3)" [ "$got" = "$2" ]
}
page_sum() { sha256sum <"$pages" | cut -c 1-64; }
games_journal() { journalctl -u 'weekend@*' -o cat --since "@$1" --no-pager; }

# The sudo commands of a README's sections on the socket unit and the web
# unit, as written: this version's README, or the one given.
readme_commands() {
    awk '/^## / { serving = ($0 == "## Serving it") }
         serving && /^### / { section = $0 }
         serving && (section == "### Terminal clients, with systemd" || section == "### Web browsers") &&
             /^    sudo / { sub(/^    /, ""); print }' "${1:-$source_dir/README.md}"
}

# The indented block of the README that follows the paragraph holding
# text: a drop-in's lines, say.
readme_block() {
    awk -v text="$1" 'index($0, text) { found = 1; next }
         found && /^    / { sub(/^    /, ""); print; block = 1; next }
         block { exit }' "$source_dir/README.md"
}

# Runs a README's commands (see readme_commands) as an operator would, and
# ends the test unless the socket and the web service then run.
serve_as_readme_says() {
    local command said commands
    mapfile -t commands < <(readme_commands "$@")
    ((${#commands[@]} >= 2)) || fail "the README's sections on the units hold ${#commands[@]} sudo commands"
    for command in "${commands[@]}"; do
        echo "\$ $command"
        said=$(sh -c "$command" </dev/null 2>&1) || fail "the README's command failed: $command"
        [[ -z $said ]] || grep -v "stable CLI interface" <<<"$said" || true
    done
    for unit in weekend.socket weekend-web.service; do
        [[ $(systemctl is-active "$unit") == active ]] || fail "$unit is not active"
    done
    ((failures == 0)) || finish
}

# Runs "players.py CHECK..." once in place of a unit's command, under the
# unit's settings and the extra lines given, prints what it said, and
# returns whether it passed:
#   probe UNIT EXTRA_LINES CHECK...
# The unit must not be running.
probe() {
    local unit=$1 extra=$2 drop_in=/run/systemd/system/$1.d status=0
    shift 2
    mkdir -p "$drop_in"
    printf '[Service]\nType=oneshot\nRestart=no\nExecStart=\nExecStart=/usr/bin/python3 %s %s\n%s\n%s\n%s\n' \
        "$clients/players.py" "$*" StandardInput=null StandardOutput=truncate:/run/weekend-probe.out "$extra" \
        >"$drop_in/probe.conf"
    systemctl daemon-reload
    systemctl start "$unit" || status=$?
    cat /run/weekend-probe.out
    rm -rf "$drop_in" /run/weekend-probe.out
    systemctl daemon-reload
    return "$status"
}
