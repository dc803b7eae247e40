#!/usr/bin/env bash
# End-to-end runs of the Windows programs under Wine, against OrvaneUnitSim on
# pseudo-terminals. CTest calls it (tests/wine/CMakeLists.txt):
#   wine-e2e.sh prefix-up | prefix-down | update | manual-port |
#               identification-transcript | streams | read-timeouts
# with, in the environment:
#   WINE, WINESERVER       the Wine loader and server
#   WINEPREFIX             the shared prefix (made by prefix-up)
#   WIN_BUILD              the mingw-w64 build folder (the .exe files)
#   UNIT_SIM, FW_UPGRADE, FW_TOOL   the Linux programs
#   IMAGES                 the images/ folder of the sources
#
# Wine and COM ports: its mount manager gives every port named in the
# registry (HKLM\Software\Wine\Ports), and every serial device it finds
# (/dev/ttyS0...) at the lowest free numbers, a device of its own; such a port
# always opens, even with no line behind it, and would be handed the
# machine's own serial ports. So COM1 to COM32 are all named in the registry
# (keeping found devices at COM33 and above), and each test starts Wine's
# server while dosdevices/com1 to com32 are folders, where the mount manager
# cannot put its links and so makes no device. The folders then become links
# to nothing: a port Wine cannot open, as on Windows, except where a test's
# OrvaneUnitSim (--dir $WINEPREFIX) links one to its pseudo-terminal. The
# server is kept running until the next test re-arms the ports.
set -uo pipefail

export WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
unset DISPLAY WAYLAND_DISPLAY

. "$(dirname "$0")/../../scripts/orvane-test-env.sh"
devices="$WINEPREFIX/dosdevices"

fail() {
  echo "FAIL: $*" >&2
  exit 1
}

# Bounded, so that no run can hold the test beyond its own deadline.
run_wine() {
  local seconds=$1
  shift
  timeout -k 5 "$seconds" "$WINE" "$@"
}

show() {
  echo "--- $1 ---"
  cat -A "$2" | head -c 4000
  echo
}

prefix_up() {
  mkdir -p "$WINEPREFIX"
  if [ ! -f "$WINEPREFIX/system.reg" ]; then
    echo "creating the Wine prefix $WINEPREFIX"
    run_wine 300 wineboot -i </dev/null >"$WINEPREFIX/wineboot.log" 2>&1 || fail "wineboot -i failed"
  fi
  {
    printf 'Windows Registry Editor Version 5.00\r\n\r\n[HKEY_LOCAL_MACHINE\\Software\\Wine\\Ports]\r\n'
    for n in $(seq 1 32); do printf '"COM%d"="/nonexistent/orvane-reserved-com%d"\r\n' "$n" "$n"; done
  } >"$WINEPREFIX/orvane-ports.reg"
  run_wine 120 reg import 'Z:'"${WINEPREFIX//\//\\}"'\orvane-ports.reg' </dev/null >/dev/null 2>&1 ||
    fail "COM1 to COM32 could not be named in the registry"
  arm_ports
  echo "prefix ready: COM1 to COM32 absent"
}

# A fresh Wine server with COM1 to COM32 absent (see the top of this file).
# Detached from the test's output, which CTest would otherwise wait on.
arm_ports() {
  "$WINESERVER" -k 2>/dev/null
  "$WINESERVER" -w
  for n in $(seq 1 32); do
    rm -rf "$devices/com$n"
    mkdir -p "$devices/com$n/reserved"
  done
  # A server started right after the last one ended now and then refuses
  # wineboot once (seen in CI); the ports are not armed until it answers.
  local attempt
  for attempt in 1 2 3; do
    "$WINESERVER" -p600 </dev/null >/dev/null 2>&1
    run_wine 120 wineboot </dev/null >"$WINEPREFIX/wineboot-arm.log" 2>&1 && break
    [ "$attempt" -lt 3 ] || fail "Wine did not start: $(tail -n 5 "$WINEPREFIX/wineboot-arm.log")"
    echo "wineboot failed (attempt $attempt), starting Wine's server again"
    "$WINESERVER" -k 2>/dev/null
    "$WINESERVER" -w
    sleep 1
  done
  shadow_com_ports "$WINEPREFIX"
}

prefix_down() {
  "$WINESERVER" -k 2>/dev/null
  return 0
}

# The Windows program finds a TX unit on COM12 by itself and updates it.
update() {
  start_unit_sim --com 12 --variant tx --baud 9600 --dir "$WINEPREFIX" \
    --images "$work/received" --trace "$work/unit-trace.txt"
  local status=0 started=$SECONDS
  (cd "$work" && run_wine 480 "$WIN_BUILD/src/OrvaneFwUpgrade.exe" </dev/null >"$work/stdout" 2>"$work/stderr") ||
    status=$?
  echo "OrvaneFwUpgrade.exe: exit status $status after $((SECONDS - started)) s"
  stop_unit_sims
  show "console" "$work/stdout"
  [ "$status" -eq 0 ] || { show "unit trace" "$work/unit-trace.txt"; fail "exit status $status, 0 expected"; }
  grep -q "COM PORT Number : 12" "$work/stdout" || fail "the unit was not found on COM12"
  grep -q "The update was successful, the unit is now operational" "$work/stdout" || fail "no success line"
  check_received_images tx "$work/received" || fail "the unit did not receive both images intact"
}

# Runs the Windows program in the prefix and the Linux one in a folder of its
# own, the same input on both; their console bytes must be the same.
compare_transcripts() {
  local input=$1 expected_status=$2
  local win_status=0 lin_status=0
  (cd "$work" && run_wine 120 "$WIN_BUILD/src/OrvaneFwUpgrade.exe" <"$input" >"$work/win.out" 2>"$work/win.err") ||
    win_status=$?
  stop_unit_sims
  echo "Windows program: exit status $win_status"
  if [ "$#" -gt 2 ]; then
    start_unit_sim "${@:3}" --dir "$work/linux"
  fi
  (cd "$work/linux" && timeout -k 5 120 "$FW_UPGRADE" <"$input" >"$work/lin.out" 2>"$work/lin.err") || lin_status=$?
  stop_unit_sims
  echo "Linux program: exit status $lin_status"
  show "Windows console" "$work/win.out"
  [ "$win_status" -eq "$expected_status" ] || fail "Windows exit status $win_status, $expected_status expected"
  [ "$lin_status" -eq "$expected_status" ] || fail "Linux exit status $lin_status, $expected_status expected"
  cmp "$work/win.out" "$work/lin.out" || { show "Linux console" "$work/lin.out"; fail "the consoles differ"; }
  echo "the two consoles are the same $(stat -c %s "$work/win.out") bytes"
}

# No unit anywhere: the search fails at once, the technician names COM7, which
# does not exist either. Status -1 reaches the shell as 255 on both systems.
manual_port() {
  shadow_com_ports "$work/linux"
  printf '7\n' >"$work/input"
  compare_transcripts "$work/input" 255
  grep -q "Enter the COM port number : " "$work/win.out" || fail "no port prompt"
  grep -q "ERROR: Opening COM7 failed !" "$work/win.out" || fail "no failed-open message"
}

# A unit with an unknown device code: found, then refused within seconds.
identification_transcript() {
  shadow_com_ports "$work/linux"
  : >"$work/input"
  local unit=(--com 12 --variant tx --baud 9600 --device-code 2)
  start_unit_sim "${unit[@]}" --dir "$WINEPREFIX"
  compare_transcripts "$work/input" 0 "${unit[@]}"
  grep -q "FAILED, Unknown product" "$work/win.out" || fail "the unknown product was not reported"
}

# Devices that never stop talking on COM1 (zeros, 4800 bytes a second) and
# COM2 (NMEA-like text, 960) must not hold the search: the unit on COM4 is
# identified well within a minute.
streams() {
  start_unit_sim --com 1 --stream zeros --stream-rate 4800 --dir "$WINEPREFIX"
  start_unit_sim --com 2 --stream nmea --stream-rate 960 --dir "$WINEPREFIX"
  start_unit_sim --com 4 --variant tx --baud 9600 --dir "$WINEPREFIX"
  # exec: the program is the background job itself, so stopping it stops Wine.
  (cd "$work" && exec timeout -k 5 60 "$WINE" "$WIN_BUILD/src/OrvaneFwUpgrade.exe" </dev/null >"$work/stdout" \
    2>"$work/stderr") &
  local program=$! started=$SECONDS
  until grep -q "TX OK" "$work/stdout" 2>/dev/null || ! kill -0 "$program" 2>/dev/null; do sleep 0.2; done
  local seconds=$((SECONDS - started))
  stop_pid "$program"
  stop_unit_sims
  show "console" "$work/stdout"
  grep -q "COM PORT Number : 4" "$work/stdout" || fail "the unit was not found on COM4"
  grep -q "TX OK" "$work/stdout" || fail "no TX OK within a minute"
  [ "$seconds" -lt 30 ] || fail "TX OK only after $seconds s"
  echo "TX OK after $seconds s"
}

# The serial module's read windows under Wine, timed on the Windows side.
read_timeouts() {
  start_unit_sim --com 14 --variant tx --baud 9600 --dir "$WINEPREFIX"
  local status=0
  run_wine 60 "$WIN_BUILD/tests/wine/ReadTimeoutProbe.exe" 14 </dev/null >"$work/probe.out" 2>&1 || status=$?
  cat "$work/probe.out"
  [ "$status" -eq 0 ] || fail "ReadTimeoutProbe.exe: exit status $status"
}

# OrvaneFwTool.exe updates a receiver on the port it is told by its name
# (COM9), with no prompt and no key wait: status 0, "confirmed" in its JSON
# with the device the port leads to, the verdict in its log, and both images
# intact.
tool_update() {
  start_unit_sim --com 9 --variant rx --baud 57600 --dir "$WINEPREFIX" \
    --images "$work/received" --trace "$work/unit-trace.txt"
  local status=0 started=$SECONDS
  (cd "$work" && run_wine 480 "$WIN_BUILD/tools/OrvaneFwTool.exe" update --port COM9 --json --log update.log \
    </dev/null >"$work/stdout" 2>"$work/stderr") || status=$?
  echo "OrvaneFwTool.exe update --port COM9: exit status $status after $((SECONDS - started)) s"
  stop_unit_sims
  show "console (standard error)" "$work/stderr"
  show "JSON (standard output)" "$work/stdout"
  [ "$status" -eq 0 ] || { show "update log" "$work/update.log"; fail "exit status $status, 0 expected"; }
  grep -qF '"port":9,"path":"\\\\.\\COM9","baud":57600,"result":"confirmed","exit":0' "$work/stdout" ||
    fail "no confirmed result on COM9 with its device"
  grep -qF 'port    COM9 leads to \\.\COM9' "$work/update.log" || fail "the log does not name the device"
  grep -q "The update was successful, the unit is now operational" "$work/stderr" || fail "no success line"
  grep -q "verdict confirmed, exit status 0" "$work/update.log" || fail "no verdict in the log"
  check_received_images rx "$work/received" || fail "the unit did not receive both images intact"
  echo "confirmed, logged, both images received intact"
}

# update --all: two units updated side by side, each by a worker of the
# Windows tool (CreateProcessW, pipes), their logs in a folder whose name is
# not ASCII, under a folder of this run's own.
tool_update_all() {
  mkdir -p "$work/received3" "$work/received12"
  start_unit_sim --com 3 --variant tx --baud 9600 --dir "$WINEPREFIX" --images "$work/received3"
  start_unit_sim --com 12 --variant rx --baud 57600 --dir "$WINEPREFIX" --images "$work/received12"
  local status=0 started=$SECONDS
  (cd "$work" && run_wine 480 "$WIN_BUILD/tools/OrvaneFwTool.exe" update --all --json --log-dir "logs-é" \
    </dev/null >"$work/stdout" 2>"$work/stderr") || status=$?
  echo "OrvaneFwTool.exe update --all: exit status $status after $((SECONDS - started)) s"
  stop_unit_sims
  show "board (standard error)" "$work/stderr"
  show "JSON (standard output)" "$work/stdout"
  [ "$status" -eq 0 ] || fail "exit status $status, 0 expected"
  [ "$(grep -o '"result":"confirmed"' "$work/stdout" | wc -l)" -eq 2 ] || fail "not both units confirmed"
  local log
  for log in "$work"/logs-é/*/unit-com3.log "$work"/logs-é/*/unit-com12.log; do
    grep -q "verdict confirmed, exit status 0" "$log" || fail "no verdict in $log"
  done
  check_received_images tx "$work/received3" || fail "the TX unit did not receive both images intact"
  check_received_images rx "$work/received12" || fail "the RX unit did not receive both images intact"
  echo "both units confirmed, logged, their images received intact"
}

case "${1:-}" in
prefix-up) prefix_up ;;
prefix-down) prefix_down ;;
update | manual-port | identification-transcript | streams | read-timeouts | tool-update | tool-update-all)
  [ -f "$WINEPREFIX/orvane-ports.reg" ] || fail "no Wine prefix at $WINEPREFIX (the prefix-up test makes it)"
  make_work_folder
  shadowed_at_exit=("$WINEPREFIX")
  arm_ports
  mkdir -p "$work/received"
  "${1//-/_}"
  ;;
*)
  echo "usage: $0 prefix-up|prefix-down|update|manual-port|identification-transcript|streams|read-timeouts" >&2
  exit 2
  ;;
esac
