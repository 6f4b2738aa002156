#!/usr/bin/env bash
# Builds the fuzzer's seed corpus: the input of every transcript (the bytes
# the transcript runner feeds the game) is one seed, and every input that
# once crashed the game another.
#
#   fuzz/make_corpus.sh OUTDIR [TRANSCRIPT_RUNNER]
#
# TRANSCRIPT_RUNNER defaults to the one built by ./test.sh --sanitize (or,
# failing that, ./test.sh).
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
out=${1:?usage: make_corpus.sh OUTDIR [TRANSCRIPT_RUNNER]}
runner=${2:-}
if [[ -z $runner ]]; then
  for candidate in "$here"/../build-asan/tests/transcript_runner "$here"/../build-tests/tests/transcript_runner; do
    [[ -x $candidate ]] && runner=$candidate && break
  done
fi
[[ -x $runner ]] || { echo "make_corpus.sh: no transcript_runner; build with ./test.sh first" >&2; exit 1; }
mkdir -p "$out"
for transcript in "$here"/../tests/transcripts/*.transcript; do
  "$runner" --input-only "$transcript" > "$out/$(basename "$transcript" .transcript)"
done
for seed in "$here"/regressions/*; do
  [ -f "$seed" ] && cp "$seed" "$out/"
done
echo "$(ls "$out" | wc -l) seeds in $out"
