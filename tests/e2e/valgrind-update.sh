#!/usr/bin/env bash
# One whole update of the Linux program under valgrind memcheck against the
# emulated unit: the update must succeed, and memcheck must find no error and
# no leak at exit.
#   valgrind-update.sh UNIT_SIM FW_UPGRADE
set -euo pipefail
UNIT_SIM=$1
upgrade=$2
. "$(dirname "$0")/../../scripts/orvane-test-env.sh"
make_work_folder
shadow_com_ports "$work"
start_unit_sim --com 3 --variant tx --baud 9600 --dir "$work"

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
