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
. "$(dirname "$0")/unit-sim-folder.sh"
make_shadowed_folder
mkdir -p "$work/received"
start_unit_sim "$build" --com 3 --variant "$variant" --baud "$baud" \
  --images "$work/received" --trace "$work/unit-trace.txt"
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
