#!/usr/bin/env bash
# Builds the game (installing the Debian packages it needs when missing) and
# starts it in this terminal. The build's output is shown only when the
# build fails.
#
#   ./play.sh
set -euo pipefail
cd "$(dirname "${BASH_SOURCE[0]}")"

tools/need-packages cmake ninja-build g++
log=$(mktemp)
trap 'rm -f "$log"' EXIT
echo "building the game (the first build takes a minute)…" >&2
if ! { cmake -S . -B build-play -G Ninja -DCMAKE_BUILD_TYPE=Release -DWEEKEND_TESTS=OFF &&
    cmake --build build-play --target weekend; } >"$log" 2>&1; then
    cat "$log" >&2
    echo "play.sh: the build failed; its output is above" >&2
    exit 1
fi
rm -f "$log"
trap - EXIT
exec build-play/story/weekend
