# Sourced by every script that runs our programs against the emulated unit
# (scripts/demo.sh, bench/update_overhead.sh, tests/e2e/valgrind-update.sh,
# tests/wine/wine-e2e.sh), so that each of these steps is written once:
#
#   make_work_folder                 $work: a temporary folder, removed at exit
#   shadow_com_ports FOLDER          FOLDER/dosdevices/com1..com32 lead nowhere
#   start_unit_sim ARGS...           $UNIT_SIM ARGS, once it has printed its
#                                    pseudo-terminal ($unit_pty)
#   stop_unit_sims                   every unit started, by its id
#   stop_pid PID                     SIGTERM, then SIGKILL after 5 s
#   check_received_images tx|rx DIR  DIR/fpga.bin and DIR/mcu.bin against
#                                    $FW_TOOL's flattening of the image files
#
# Variables: UNIT_SIM and FW_TOOL, the programs' paths; IMAGES, the folder of
# the image files (the sources' images/ unless set); shadowed_at_exit, folders
# whose ports are shadowed again at exit (a unit removes its link when it
# stops).

orvane_sources=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
: "${IMAGES:=$orvane_sources/images}"
no_port=/nonexistent/orvane-no-port
work=
unit_pids=()
unit_pty=
shadowed_at_exit=()

make_work_folder() {
  work=$(mktemp -d)
  trap cleanup_work_folder EXIT
}

cleanup_work_folder() {
  # Only the script's own shell cleans up: a subshell killed right after its
  # fork can run the EXIT trap, and must not remove the folder (or re-shadow
  # ports) under the script.
  [ "$BASHPID" = "$$" ] || return 0
  stop_unit_sims
  local folder
  for folder in "${shadowed_at_exit[@]}"; do shadow_com_ports "$folder"; done
  if [ -n "$work" ]; then rm -rf "$work"; fi
}

# A search run from FOLDER then never falls through to the machine's own
# /dev/ttyS ports. Entries that are links already stay (a running unit's);
# anything else in a port's place, a folder included, becomes a link to
# nothing.
shadow_com_ports() {
  local devices=$1/dosdevices n
  mkdir -p "$devices"
  for n in $(seq 1 32); do
    [ -L "$devices/com$n" ] && continue
    rm -rf "$devices/com$n"
    ln -s "$no_port" "$devices/com$n"
  done
}

# Ends the script when the unit does not come up within 5 s.
start_unit_sim() {
  local out="$work/unit${#unit_pids[@]}.out"
  "$UNIT_SIM" "$@" >"$out" 2>&1 &
  unit_pids+=($!)
  for _ in $(seq 1 100); do
    if [ -s "$out" ]; then
      unit_pty=$(head -n 1 "$out")
      return 0
    fi
    sleep 0.05
  done
  echo "OrvaneUnitSim did not start: $(cat "$out")" >&2
  exit 1
}

stop_unit_sims() {
  local pid
  for pid in "${unit_pids[@]}"; do stop_pid "$pid"; done
  unit_pids=()
}

# Polled from this shell: a background killer subshell that is itself killed
# right after its fork could run the EXIT trap.
stop_pid() {
  kill "$1" 2>/dev/null || true
  for _ in $(seq 1 100); do
    kill -0 "$1" 2>/dev/null || break
    sleep 0.05
  done
  kill -9 "$1" 2>/dev/null || true
  wait "$1" 2>/dev/null || true
}

# One line per image, on stdout when it is intact, on stderr when not; false
# when either is not.
check_received_images() {
  local variant=${1^^} received=$2 status=0 image file expected
  for image in fpga mcu; do
    file=M731946_MCU_6G-SDI_61_1_05.hex
    [ "$image" = fpga ] && file=M731946_${variant}_XC7A35_1_05.mcs
    expected="$work/$image.expected"
    if ! "$FW_TOOL" flatten "$IMAGES/$file" "$expected" >/dev/null; then
      echo "OrvaneFwTool could not flatten $IMAGES/$file" >&2
      status=1
    elif cmp -s "$expected" "$received/$image.bin"; then
      echo "the unit holds the $image image intact ($(stat -c %s "$expected") bytes)"
    else
      echo "the unit's $image image differs from the flattening of $file" >&2
      status=1
    fi
  done
  return "$status"
}
