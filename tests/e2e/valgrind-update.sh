#!/usr/bin/env bash
# One whole update of the Linux program under valgrind memcheck against the
# emulated unit: the update must succeed, and memcheck must find no error and
# no leak at exit.
#   valgrind-update.sh UNIT_SIM FW_UPGRADE
set -euo pipefail
unit_sim=$1
upgrade=$2
build=$(mktemp -d)
# unit-sim-folder.sh expects the emulator at BUILD/emulator/OrvaneUnitSim.
mkdir -p "$build/emulator"
ln -s "$unit_sim" "$build/emulator/OrvaneUnitSim"
. "$(dirname "$0")/../../scripts/unit-sim-folder.sh"
make_shadowed_folder
trap 'cleanup_shadowed_folder; rm -rf "$build"' EXIT
start_unit_sim "$build" --com 3 --variant tx --baud 9600

status=0
(cd "$work" && timeout 600 valgrind --tool=memcheck --leak-check=full \
   --errors-for-leak-kinds=definite,indirect,possible --error-exitcode=99 \
   --log-file="$work/memcheck.txt" "$upgrade" </dev/null >"$work/console.txt") || status=$?
tail -n 12 "$work/memcheck.txt"
if [ "$status" -ne 0 ]; then
  echo "valgrind run ended with status $status" >&2
  exit 1
fi
grep -q "The update was successful, the unit is now operational" "$work/console.txt" ||
  { echo "the update did not succeed under valgrind" >&2; cat "$work/console.txt" >&2; exit 1; }
grep -q "ERROR SUMMARY: 0 errors" "$work/memcheck.txt"
grep -q "All heap blocks were freed" "$work/memcheck.txt" ||
  { echo "memory still allocated at exit" >&2; exit 1; }
echo "update under memcheck: success line, 0 errors, every block freed"
