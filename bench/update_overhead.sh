#!/usr/bin/env bash
# The updater's own overhead over the ideal duration of a whole update, and its
# peak memory, in one run against the emulated unit pacing itself at the wire
# rate:
#   bench/update_overhead.sh BUILD_DIR
# The ideal is what the program must wait by design: every read window it runs
# (an exchange's reply falls inside its first window, then one silent window
# follows), the reboot pauses and the two closing reads. The unit on COM3
# answers at 9600, so the search costs two unheard probes at 115200 and one
# answered at 9600.
set -euo pipefail
build=$(cd "${1:?usage: update_overhead.sh BUILD_DIR}" && pwd)
UNIT_SIM=$build/emulator/OrvaneUnitSim
. "$(dirname "$0")/../scripts/orvane-test-env.sh"
make_work_folder
shadow_com_ports "$work"
start_unit_sim --com 3 --variant tx --baud 9600 --dir "$work" --pace

# The waits as the program defines them.
defined() {
  awk -v name="$1" '$1 == "#define" && $2 == name { print $3 }' \
    "$orvane_sources/src/base/ReadWindows.h" "$orvane_sources/src/update/UpdateDriver.h"
}
search=$(defined MAX_WAIT_READ)
query=$(defined QUERY_READ_TIMEOUT_MS)
data=$(defined DATA_REPLY_TIMEOUT_MS)
windows_ms=0
add() { windows_ms=$(( windows_ms + $1 )); }
add $(( 4 * search ))                                # search: twice unheard at 115200, answered at 9600
add "$query"                                         # "%fw -v", one direct read
add $(( 2 * query ))                                 # "%fw -p"
add $(( 2 * $(defined FPGA_READY_TIMEOUT_MS) ))      # FPGA upload command and "Ready"
add $(( 2 * data ))                                  # FPGA data and "SUCCESS"
add $(( 2 * $(defined MCU_READY_TIMEOUT_MS) ))       # microcontroller upload command and "Ready"
add $(( 2 * data ))                                  # microcontroller data and "SUCCESS"
add $(( $(defined REBOOT_PAUSES) * $(defined REBOOT_PAUSE_MS) ))  # reboot wait
add $(( data + $(defined CLOSING_READ_TIMEOUT_MS) )) # the two closing reads

(cd "$work" && /usr/bin/time -f "%e %M" -o "$work/time.txt" "$build/src/OrvaneFwUpgrade" </dev/null >"$work/console.txt")
read -r elapsed peak_kb <"$work/time.txt"
grep -q "The update was successful" "$work/console.txt" || { echo "the update did not succeed" >&2; exit 1; }
awk -v e="$elapsed" -v w="$windows_ms" -v m="$peak_kb" 'BEGIN {
  printf "whole update      %8.3f s\n", e
  printf "ideal (waits)     %8.3f s\n", w / 1000
  printf "overhead          %8.3f s  (target under 0.5 s)\n", e - w / 1000
  printf "peak memory       %8.1f MB (target at most 20 MB)\n", m / 1024
}'
