#!/usr/bin/env bash
# Runs the fuzz target once over the seed corpus (the transcripts' inputs
# and the inputs that once crashed the game): a test that the game still
# survives all of them.
#
#   fuzz/replay.sh GAME_FUZZER TRANSCRIPT_RUNNER
set -euo pipefail
fuzzer=${1:?usage: replay.sh GAME_FUZZER TRANSCRIPT_RUNNER}
runner=${2:?usage: replay.sh GAME_FUZZER TRANSCRIPT_RUNNER}
seeds=$(mktemp -d)
trap 'rm -rf "$seeds"' EXIT
"$(dirname "$0")/make_corpus.sh" "$seeds" "$runner"
"$fuzzer" "$seeds"/*
