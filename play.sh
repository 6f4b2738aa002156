#!/usr/bin/env bash
# Builds the game (installing the Debian packages it needs when missing) and
# starts it in this terminal.
#
#   ./play.sh
set -euo pipefail
cd "$(dirname "${BASH_SOURCE[0]}")"

tools/need-packages cmake ninja-build g++
cmake -S . -B build-play -G Ninja -DCMAKE_BUILD_TYPE=Release -DWEEKEND_TESTS=OFF >/dev/null
cmake --build build-play --target weekend >/dev/null
exec build-play/story/weekend
