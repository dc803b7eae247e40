#!/usr/bin/env bash
# A whole update against the emulated unit, in a temporary folder:
#   scripts/demo.sh [BUILD_DIR] [tx|rx] [BAUD]
# COM1 to COM32 are all shadowed in the folder (links to nothing) except COM3,
# which leads to OrvaneUnitSim; the machine's own serial ports are never
# touched. The update lasts about three minutes: the program waits 138 s for
# the unit to reboot, then up to 12 s for its closing text.
set -euo pipefail
build=$(cd "${1:-build}" && pwd)
variant=${2:-tx}
baud=${3:-9600}
UNIT_SIM=$build/emulator/OrvaneUnitSim
FW_TOOL=$build/tools/OrvaneFwTool
# The image files that build embeds (-DORVANE_IMAGE_DIR may name others).
IMAGES=$(sed -n 's/^ORVANE_IMAGE_DIR:[A-Z]*=//p' "$build/CMakeCache.txt")
. "$(dirname "$0")/orvane-test-env.sh"
make_work_folder
shadow_com_ports "$work"
start_unit_sim --com 3 --variant "$variant" --baud "$baud" --dir "$work" \
  --images "$work/received" --trace "$work/unit-trace.txt"
echo "emulated $variant unit at $baud baud on COM3 -> $unit_pty"

start=$(date +%s)
status=0
(cd "$work" && "$build/src/OrvaneFwUpgrade" </dev/null) || status=$?
echo
echo "OrvaneFwUpgrade exit status $status after $(( $(date +%s) - start )) s"
check_received_images "$variant" "$work/received" || status=1
exit "$status"
