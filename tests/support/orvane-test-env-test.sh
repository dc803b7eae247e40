#!/usr/bin/env bash
# scripts/orvane-test-env.sh in seconds, without a whole update: the shadowed
# ports, a unit started on its link and stopped by its id, what is left after
# the script's exit, and the image check telling intact images from others.
# UNIT_SIM, FW_TOOL and IMAGES come from the environment (CTest sets them).
set -euo pipefail
helper="$(dirname "$0")/../../scripts/orvane-test-env.sh"
. "$helper"

fail() {
  echo "FAIL: $*" >&2
  exit 1
}

leads_nowhere() {
  [ "$(readlink "$1")" = "$no_port" ]
}

make_work_folder
devices="$work/dosdevices"

# A folder in a port's place (as the Wine tests leave them) becomes a link too.
mkdir -p "$devices/com5/reserved"
shadow_com_ports "$work"
for n in $(seq 1 32); do leads_nowhere "$devices/com$n" || fail "com$n does not lead nowhere"; done
[ ! -e "$devices/com33" ] || fail "a port beyond the search was shadowed"

start_unit_sim --com 7 --variant tx --baud 9600 --dir "$work"
case "$unit_pty" in /dev/pts/*) ;; *) fail "no pseudo-terminal in the unit's first line: $unit_pty" ;; esac
shadow_com_ports "$work"
[ "$(readlink "$devices/com7")" = "$unit_pty" ] || fail "shadowing again took the unit's link away"
pid=${unit_pids[0]}
stop_unit_sims
! kill -0 "$pid" 2>/dev/null || fail "the unit still runs after stop_unit_sims"
[ "${#unit_pids[@]}" -eq 0 ] || fail "stopped units are still listed"

# At exit: units stopped, the folders named in shadowed_at_exit shadowed
# again, the work folder removed.
other="$work/other"
mkdir "$other"
shadow_com_ports "$other"
# The substitution ends when the script's output does: after its EXIT trap.
child=$(bash -c '
  . "$1"
  make_work_folder
  shadowed_at_exit=("$2")
  start_unit_sim --com 2 --variant rx --baud 57600 --dir "$2"
  echo "$work ${unit_pids[0]}"' sh "$helper" "$other")
read -r child_work child_unit <<<"$child"
[ ! -e "$child_work" ] || fail "the work folder outlived its script"
! kill -0 "$child_unit" 2>/dev/null || fail "a unit outlived its script"
leads_nowhere "$other/dosdevices/com2" || fail "the unit's port was not shadowed again at exit"

# Images as the unit stores them: both intact, then one byte of the
# microcontroller image changed, then a TX image checked as a receiver's.
received="$work/received"
mkdir "$received"
"$FW_TOOL" flatten "$IMAGES/M731946_TX_XC7A35_1_05.mcs" "$received/fpga.bin" >/dev/null
"$FW_TOOL" flatten "$IMAGES/M731946_MCU_6G-SDI_61_1_05.hex" "$received/mcu.bin" >/dev/null
said=$(check_received_images tx "$received" 2>&1) || fail "intact images were refused: $said"
[ "$(grep -c "intact" <<<"$said")" -eq 2 ] || fail "not one line per intact image: $said"

byte=$(od -An -tu1 -j1000 -N1 "$received/mcu.bin")
printf "\\x$(printf %02x $(( (byte + 1) % 256 )))" | dd of="$received/mcu.bin" bs=1 seek=1000 conv=notrunc status=none
said=$(check_received_images tx "$received" 2>&1) && fail "a changed byte went unnoticed: $said"
grep -q "the unit's mcu image differs" <<<"$said" || fail "the changed image was not named: $said"
grep -q "holds the fpga image intact" <<<"$said" || fail "the intact image was not named: $said"

said=$(check_received_images rx "$received" 2>&1) && fail "a TX image passed as a receiver's: $said"
grep -q "the unit's fpga image differs" <<<"$said" || fail "the wrong variant was not named: $said"
echo "orvane-test-env.sh: ports, unit, exit and image check as expected"
