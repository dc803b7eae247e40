#!/usr/bin/env bash
# Builds the libFuzzer targets (fuzz/) and runs each for a number of
# executions, starting from its seed corpus; prints per target the executions
# done, their rate and whether anything was found.
#
#   fuzz/run_fuzz.sh [-n RUNS] [-j JOBS] [-t SECONDS] [-s SANITIZERS]
#                    [-b BUILD_DIR] [-S SOURCE_DIR] [TARGET...]
#
#   -n  executions per target, shared among the jobs (default 10000000)
#   -j  parallel fuzzing processes per target (default 1; 2 for two cores)
#   -t  time limit per target in seconds (default 3600)
#   -s  sanitizers besides fuzzer (default address,undefined)
#   -b  build folder (default build-fuzz, or build-fuzz-<sanitizers> with -s)
#   -S  source folder of the modules (default src/), e.g. a copy with a fix
#
# The seed corpus is copied into the build folder, so the committed one does
# not grow; findings land in BUILD_DIR/findings/<target>/. Exit status 1 when
# anything was found.
set -euo pipefail

root=$(cd "$(dirname "$0")/.." && pwd)
runs=10000000
jobs=1
limit=3600
sanitizers=address,undefined
build=""
source_dir=""

usage() {
    sed -n '2,18p' "$0" | sed 's/^# \{0,1\}//'
    exit 2
}

while getopts "n:j:t:s:b:S:h" option; do
    case $option in
    n) runs=$OPTARG ;;
    j) jobs=$OPTARG ;;
    t) limit=$OPTARG ;;
    s) sanitizers=$OPTARG; [[ -z $build ]] && build=$root/build-fuzz-${sanitizers//,/-} ;;
    b) build=$OPTARG ;;
    S) source_dir=$OPTARG ;;
    *) usage ;;
    esac
done
shift $((OPTIND - 1))
build=${build:-$root/build-fuzz}
# Absolute, as the parallel jobs run from their log folder.
mkdir -p "$build"
build=$(cd "$build" && pwd)
targets=("$@")
if [[ ${#targets[@]} -eq 0 ]]; then
    targets=(fuzz_hex_record fuzz_flatten fuzz_base64 fuzz_version_reply)
fi
for number in "$runs" "$jobs" "$limit"; do
    [[ $number =~ ^[1-9][0-9]*$ ]] || { echo "not a positive number: $number" >&2; exit 2; }
done

compiler=$(command -v clang++-14 || command -v clang++ || true)
[[ -n $compiler ]] || { echo "clang++ not found" >&2; exit 2; }
configure=(-S "$root/fuzz" -B "$build" -DORVANE_FUZZ_SANITIZERS="$sanitizers")
# The compiler only at the first configuration: naming it again in another
# spelling would make CMake throw the cache away.
[[ -f $build/CMakeCache.txt ]] || configure+=(-DCMAKE_CXX_COMPILER="$compiler")
[[ -n $source_dir ]] && configure+=(-DORVANE_FUZZ_SOURCE_DIR="$(cd "$source_dir" && pwd)")
cmake "${configure[@]}" >/dev/null
cmake --build "$build" -j "$jobs" >/dev/null

# Longest input per target: a record line is at most 521 characters, a
# version reply a few dozen; Base64 costs per character, and 1 KiB reaches
# every state of its decoder.
max_len_of() {
    case $1 in
    fuzz_hex_record) echo 600 ;;
    fuzz_base64) echo 1024 ;;
    fuzz_version_reply) echo 256 ;;
    *) echo 4096 ;;
    esac
}

found_any=0
printf '%-20s %12s %9s %10s  %s\n' target executions seconds exec/s found
for target in "${targets[@]}"; do
    binary=$build/$target
    [[ -x $binary ]] || { echo "$target: not built" >&2; found_any=1; continue; }
    work=$build/campaign/$target
    findings=$build/findings/$target
    rm -rf "$work"
    mkdir -p "$work/corpus" "$work/logs" "$findings"
    cp "$root/fuzz/corpus/$target/"* "$work/corpus/"

    per_job=$(((runs + jobs - 1) / jobs))
    flags=(-runs="$per_job" -max_total_time="$limit" -max_len="$(max_len_of "$target")" -timeout=10
           -print_final_stats=1 -artifact_prefix="$findings/")
    start=$(date +%s.%N)
    if [[ $jobs -gt 1 ]]; then
        # Each job logs to fuzz-<n>.log in the current folder; they share the
        # corpus folder and pick up each other's finds.
        (cd "$work/logs" && "$binary" "${flags[@]}" -jobs="$jobs" -workers="$jobs" "$work/corpus" \
            >"$work/logs/parent.log" 2>&1) || true
    else
        "$binary" "${flags[@]}" "$work/corpus" >"$work/logs/fuzz-0.log" 2>&1 || true
    fi
    end=$(date +%s.%N)

    executions=0
    for log in "$work/logs"/fuzz-*.log; do
        [[ -f $log ]] || continue
        done_runs=$(grep -o 'stat::number_of_executed_units: [0-9]*' "$log" | awk '{print $2}' | tail -1 || true)
        executions=$((executions + ${done_runs:-0}))
    done
    seconds=$(awk -v a="$start" -v b="$end" 'BEGIN { printf "%.1f", b - a }')
    rate=$(awk -v n="$executions" -v s="$seconds" 'BEGIN { printf "%d", (s > 0) ? n / s : 0 }')

    artifacts=$(find "$findings" -maxdepth 1 -type f \( -name 'crash-*' -o -name 'leak-*' -o -name 'timeout-*' \
        -o -name 'oom-*' -o -name 'slow-unit-*' \) | wc -l)
    reports=$(cat "$work/logs"/*.log | grep -c -E '^==[0-9]+==ERROR|runtime error:|property broken:' || true)
    if [[ $artifacts -eq 0 && $reports -eq 0 ]]; then
        verdict=nothing
    else
        verdict="$artifacts input(s), $reports report(s): see $findings and $work/logs"
        found_any=1
    fi
    printf '%-20s %12d %9.1f %10d  %s\n' "$target" "$executions" "$seconds" "$rate" "$verdict"
done
exit $found_any
