# Sourced by the demo and the benchmarks: a temporary folder whose
# dosdevices/com1 to com32 are all links to nothing (so the machine's own
# serial ports are never touched), and an emulated unit linked into it.
#   make_shadowed_folder            sets $work
#   start_unit_sim BUILD ARGS...    OrvaneUnitSim --dir $work ARGS, waits for its line
# The folder and the unit go away when the script exits.

work=
sim_pid=

cleanup_shadowed_folder() {
  # A subshell that runs the EXIT trap (one killed right after its fork can)
  # must not remove the folder under the script.
  [ "$BASHPID" = "$$" ] || return 0
  if [ -n "$sim_pid" ]; then
    kill "$sim_pid" 2>/dev/null || true
    wait "$sim_pid" 2>/dev/null || true
  fi
  [ -n "$work" ] && rm -rf "$work"
}

make_shadowed_folder() {
  work=$(mktemp -d)
  trap cleanup_shadowed_folder EXIT
  mkdir -p "$work/dosdevices"
  for n in $(seq 1 32); do ln -s /nonexistent "$work/dosdevices/com$n"; done
}

start_unit_sim() {
  local build=$1
  shift
  "$build/emulator/OrvaneUnitSim" --dir "$work" "$@" >"$work/sim.out" &
  sim_pid=$!
  for _ in $(seq 1 100); do [ -s "$work/sim.out" ] && return 0; sleep 0.05; done
  echo "OrvaneUnitSim did not start" >&2
  return 1
}
