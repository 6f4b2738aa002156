#!/usr/bin/env bash
# Measures the weekend game and prints one table of times, peak memory and
# ratios against the targets (docs/performance.md explains the figures).
#
#   bench/run.sh [--quick] [--out FILE]
#
#   --quick     fewer repetitions and no 1 GiB page file (a few minutes less)
#   --out FILE  also write the table to FILE
#
# Builds Release binaries in build-bench/, runs the in-process figures
# (Google Benchmark, bench/game_bench.cpp) and then the whole-process ones
# (bench/process_bench.sh) in a private mount namespace whose /home is a
# tmpfs, so the machine's real page file /home/flags is never touched. Needs
# root (unshare -m, mount), CMake, Ninja, libbenchmark-dev and python3.
# Not part of the test suite: nothing here fails because the machine is slow.
set -euo pipefail

root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
quick=0
out=
while (($#)); do
    case $1 in
    --quick) quick=1 ;;
    --out)
        out=${2:?--out needs a file}
        shift
        ;;
    *)
        echo "usage: bench/run.sh [--quick] [--out FILE]" >&2
        exit 2
        ;;
    esac
    shift
done

[[ $(id -u) == 0 ]] || {
    echo "bench/run.sh: needs root for a private mount namespace (unshare -m)" >&2
    exit 1
}

"$root/tools/need-packages" cmake ninja-build g++ libbenchmark-dev python3 util-linux

build=$root/build-bench
echo "building Release binaries in $build" >&2
cmake -S "$root" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release -DWEEKEND_BENCH=ON -DWEEKEND_TESTS=OFF >/dev/null
cmake --build "$build" --target weekend hello_world proc_timer make_input game_bench >/dev/null

work=$(mktemp -d /tmp/weekend-bench.XXXXXX)
trap 'rm -rf "$work"' EXIT

echo "in-process figures (Google Benchmark)" >&2
if [[ $quick == 1 ]]; then
    repetitions=3 min_time=0.1
else
    repetitions=5 min_time=0.5
fi
WEEKEND_BENCH_DIR=$work "$build/bench/game_bench" \
    --benchmark_repetitions=$repetitions --benchmark_min_time=$min_time \
    --benchmark_report_aggregates_only=true \
    --benchmark_out="$work/inprocess.json" --benchmark_out_format=json >&2

echo "whole-process figures (private mount namespace, tmpfs on /home)" >&2
unshare --mount --propagation private \
    bash "$root/bench/process_bench.sh" "$build" "$work" "$(readlink /proc/self/ns/mnt)" "$quick"

command="bench/run.sh"
[[ $quick == 1 ]] && command+=" --quick"
python3 "$root/bench/make_table.py" --work "$work" --build "$build" --command "$command" >"$work/table.md"
cat "$work/table.md"
if [[ -n $out ]]; then
    cp "$work/table.md" "$out"
fi
