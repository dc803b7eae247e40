#!/usr/bin/env bash
# The updater's own overhead over the ideal duration of a whole update, and its
# peak memory, in one run against the emulated unit pacing itself at the wire
# rate:
#   bench/update_overhead.sh BUILD_DIR
# The ideal is what the program must wait by design: every read window it runs
# (an exchange's reply falls inside its first window, then one silent window
# follows), the 46 pauses of 3 s and the two closing reads. The unit on COM3
# answers at 9600, so the search costs two unheard probes at 115200 and one
# answered at 9600.
set -euo pipefail
build=$(cd "${1:?usage: update_overhead.sh BUILD_DIR}" && pwd)
. "$(dirname "$0")/../scripts/unit-sim-folder.sh"
make_shadowed_folder
start_unit_sim "$build" --com 3 --variant tx --baud 9600 --pace

windows_ms=0
add() { windows_ms=$(( windows_ms + $1 )); }
add $(( 2*500 + 1000 ))          # search: twice unheard at 115200, answered at 9600
add 1000                         # "%fw -v", one direct read
add $(( 2*1000 ))                # "%fw -p"
add $(( 2*10000 ))               # FPGA upload command and "Ready"
add $(( 2*1000 ))                # FPGA data and "SUCCESS"
add $(( 2*5000 ))                # microcontroller upload command and "Ready"
add $(( 2*1000 ))                # microcontroller data and "SUCCESS"
add $(( 46*3000 + 1000 + 11000 ))  # reboot wait and the two closing reads

(cd "$work" && /usr/bin/time -f "%e %M" -o "$work/time.txt" "$build/src/OrvaneFwUpgrade" </dev/null >"$work/console.txt")
read -r elapsed peak_kb <"$work/time.txt"
grep -q "The update was successful" "$work/console.txt" || { echo "the update did not succeed" >&2; exit 1; }
awk -v e="$elapsed" -v w="$windows_ms" -v m="$peak_kb" 'BEGIN {
  printf "whole update      %8.3f s\n", e
  printf "ideal (waits)     %8.3f s\n", w / 1000
  printf "overhead          %8.3f s  (target under 0.5 s)\n", e - w / 1000
  printf "peak memory       %8.1f MB (target at most 20 MB)\n", m / 1024
}'
