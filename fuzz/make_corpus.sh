#!/usr/bin/env bash
# Builds the fuzzer's seed corpus from the transcripts: each input script,
# without its description line, becomes one seed.
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
out=${1:?usage: make_corpus.sh OUTDIR}
mkdir -p "$out"
for script in "$here"/../tests/transcripts/*.in; do
  tail -n +2 "$script" > "$out/$(basename "$script" .in)"
done
for seed in "$here"/regressions/*; do
  [ -f "$seed" ] && cp "$seed" "$out/"
done
echo "$(ls "$out" | wc -l) seeds in $out"
