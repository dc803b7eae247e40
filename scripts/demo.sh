#!/usr/bin/env bash
# A whole update against the emulated unit, in a temporary folder:
#   scripts/demo.sh [BUILD_DIR] [tx|rx] [BAUD]
# COM1 to COM32 are all shadowed in the folder (links to nothing) except COM3,
# which leads to OrvaneUnitSim; the machine's own serial ports are never
# touched. The update lasts about two and a half minutes: the program waits
# 138 s for the unit to reboot, then up to 12 s for its closing text.
set -euo pipefail
build=$(cd "${1:-build}" && pwd)
variant=${2:-tx}
baud=${3:-9600}
work=$(mktemp -d)
sim_pid=
cleanup() {
  [ -n "$sim_pid" ] && kill "$sim_pid" 2>/dev/null && wait "$sim_pid" 2>/dev/null
  rm -rf "$work"
}
trap cleanup EXIT

mkdir -p "$work/dosdevices" "$work/received"
for n in $(seq 1 32); do ln -s /nonexistent "$work/dosdevices/com$n"; done

"$build/emulator/OrvaneUnitSim" --com 3 --variant "$variant" --baud "$baud" --dir "$work" \
  --images "$work/received" --trace "$work/unit-trace.txt" >"$work/sim.out" &
sim_pid=$!
for _ in $(seq 1 100); do [ -s "$work/sim.out" ] && break; sleep 0.05; done
echo "emulated $variant unit at $baud baud on COM3 -> $(head -n 1 "$work/sim.out")"

start=$(date +%s)
status=0
(cd "$work" && "$build/src/OrvaneFwUpgrade" </dev/null) || status=$?
echo
echo "OrvaneFwUpgrade exit status $status after $(( $(date +%s) - start )) s"

index=$([ "$variant" = tx ] && echo TX || echo RX)
"$build/tools/OrvaneFwTool" flatten "$(dirname "$0")/../images/M731946_${index}_XC7A35_1_05.mcs" "$work/fpga.expected"
"$build/tools/OrvaneFwTool" flatten "$(dirname "$0")/../images/M731946_MCU_6G-SDI_61_1_05.hex" "$work/mcu.expected"
for image in fpga mcu; do
  if cmp -s "$work/$image.expected" "$work/received/$image.bin"; then
    echo "the unit holds the $image image intact ($(stat -c %s "$work/$image.expected") bytes)"
  else
    echo "the unit's $image image differs from the flattened file" >&2
    status=1
  fi
done
exit "$status"
