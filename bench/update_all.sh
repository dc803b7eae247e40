#!/usr/bin/env bash
# Updating many units at once against updating one, in one run:
#   bench/update_all.sh BUILD_DIR [N]          (N units, 8 by default)
# For each of two emulators, one keeping to the wire rate both ways (--pace:
# the host's writes wait as on a real line) and one handing bytes over as fast
# as the pseudo-terminal takes them:
#   - `OrvaneFwTool update --all --json` against one unit, then against N
#     units at once; the ratio of the two times (target for N = 32: at most
#     1.05), every confirmed unit's images checked against the image files,
#     the units not confirmed (counted, not fatal), the longest single write
#     of image data in the workers' logs (each write has a window of 60 s)
#     and how many writes the line did not hold back;
#   - the peak memory of each worker (target at most 20 MB) and of the
#     supervising tool (target at most 10 MB), VmHWM sampled from /proc while
#     they run (the tool's own figure: a peak taken over the tool and the
#     workers it waited for, as GNU time gives, would not tell them apart);
# then a scan of N silent ports side by side against a scan of one (a silent
# port opens but never answers the probe: about 6.5 s; target at most 1.1).
# The machine's load (uptime) is printed before and after: other work on it
# shows in the times.
# Each run gets a temporary folder of its own (scripts/orvane-test-env.sh).
set -euo pipefail
build=$(cd "${1:?usage: update_all.sh BUILD_DIR [N]}" && pwd)
count=${2:-8}
UNIT_SIM=$build/emulator/OrvaneUnitSim
FW_TOOL=$build/tools/OrvaneFwTool
tool=$FW_TOOL
. "$(dirname "$0")/../scripts/orvane-test-env.sh"

if ! "$tool" update --help 2>&1 | grep -q -- "--all"; then
  echo "OrvaneFwTool has no 'update --all' yet" >&2
  exit 2
fi

rates=(9600 57600 115200 4800 2400 1200 9600 57600)

# Units on COM1..COM$1 of the work folder, alternately TX and RX at the
# rates above.
# Each unit keeps the images it receives in $work/images-comN.
# A unit alone is the slowest of the mix (a receiver, whose FPGA image is the
# larger, at 1200 baud), so that the ratio shows what side by side costs, not
# what the mix does.
variant_of() { if [ "$units" -eq 1 ] || [ $(($1 % 2)) -eq 0 ]; then echo rx; else echo tx; fi; }
rate_of() { if [ "$units" -eq 1 ]; then echo 1200; else echo "${rates[$((($1 - 1) % ${#rates[@]}))]}"; fi; }
start_units() {
  units=$1
  shift
  local com
  for com in $(seq 1 "$units"); do
    start_unit_sim --com "$com" --variant "$(variant_of "$com")" --baud "$(rate_of "$com")" \
      --dir "$work" --images "$work/images-com$com" "$@"
  done
}

# The images of the units on the given COM numbers against the image files;
# the number that differ.
damaged_images() {
  local damaged=0 com
  for com in "$@"; do
    check_received_images "$(variant_of "$com")" "$work/images-com$com" >/dev/null 2>&1 || damaged=$((damaged + 1))
  done
  echo "$damaged"
}

# The writes of image data in the workers' logs: "longest_ms unheld total".
# A write is unheld when it ended at once (under 50 ms) right after another
# write of the same image: the line did not hold it back, so the host went a
# whole write ahead of the wire (a paced line should hold every write but
# each image's first).
image_writes() {
  local log
  for log in "$work"/logs/*/unit-com*.log; do
    if [ -f "$log" ]; then cat "$log"; fi
  done | awk '$3 == "data" && $5 == "bytes" {
                total++; ms = $7 + 0; if (ms > longest) longest = ms
                if (after_write && ms < 50) unheld++
                after_write = 1; next }
              $3 == "sent" || $3 == "reply" { after_write = 0 }
              END { print longest + 0, unheld + 0, total + 0 }'
}

# Peak resident memory (VmHWM, kB) of the tool and of its workers, sampled
# from /proc every half second while the tool runs: "tool_kb worker_kb".
# (/usr/bin/time alone cannot tell them apart: the peak it gives for the tool
# takes in the workers it waited for.)
vm_hwm() {
  local key value _
  while read -r key value _; do
    [ "$key" = VmHWM: ] && { echo "$value"; return; }
  done 2>/dev/null <"/proc/$1/status"
  echo 0
}
# CPU time (user and system, in clock ticks) a process has used so far.
cpu_ticks() {
  local fields
  read -r -a fields 2>/dev/null <"/proc/$1/stat" || { echo 0; return; }
  echo $((fields[13] + fields[14]))
}
# "tool_kb worker_kb tool_cpu_s workers_cpu_s": the CPU time shows a loop
# that spins while the workers wait in writes.
sample_peaks() {
  local tool_pid=$1 tool_peak=0 worker_peak=0 tool_cpu=0 kb pid
  local -A worker_cpu=()
  while kill -0 "$tool_pid" 2>/dev/null; do
    kb=$(vm_hwm "$tool_pid")
    [ "${kb:-0}" -gt "$tool_peak" ] && tool_peak=$kb
    kb=$(cpu_ticks "$tool_pid")
    [ "${kb:-0}" -gt "$tool_cpu" ] && tool_cpu=$kb
    for pid in $(pgrep -P "$tool_pid" 2>/dev/null); do
      kb=$(vm_hwm "$pid")
      [ "${kb:-0}" -gt "$worker_peak" ] && worker_peak=$kb
      kb=$(cpu_ticks "$pid")
      [ "${kb:-0}" -gt "${worker_cpu[$pid]:-0}" ] && worker_cpu[$pid]=$kb
    done
    sleep 0.5
  done
  local workers=0
  for pid in "${!worker_cpu[@]}"; do workers=$((workers + worker_cpu[$pid])); done
  local tick
  tick=$(getconf CLK_TCK)
  echo "$tool_peak $worker_peak $(awk -v t="$tool_cpu" -v w="$workers" -v k="$tick" 'BEGIN { printf "%.1f %.1f", t / k, w / k }')"
}

# update --all in the folder; sets figures to
# "seconds tool_peak_kb worker_peak_kb tool_cpu_s workers_cpu_s damaged_units
# longest_write_ms unheld_writes image_writes unconfirmed_units". A unit that
# is not confirmed is counted, not fatal: a paced run can miss a reply (see
# the README), and its other figures still stand.
timed_update_all() {
  local expected=$1 started=$EPOCHREALTIME
  (cd "$work" && exec "$tool" update --all --json >"$work/report.json" 2>"$work/console.txt") &
  local tool_pid=$!
  local peaks
  peaks=$(sample_peaks "$tool_pid")
  local status=0
  wait "$tool_pid" || status=$?
  local seconds
  seconds=$(awk -v a="$started" -v b="$EPOCHREALTIME" 'BEGIN { printf "%.1f", b - a }')
  # 1: some unit was not updated; anything else stopped the run itself.
  [ "$status" -le 1 ] || { cat "$work/console.txt" >&2; echo "update --all: exit status $status" >&2; return 1; }
  local confirmed
  confirmed=$({ grep -o '"port":[0-9]*,"path":"[^"]*","baud":[0-9]*,"result":"confirmed"' "$work/report.json" || true; } |
    sed 's/^"port":\([0-9]*\),.*/\1/')
  # What became of the others, for the record.
  grep -o '"port":[0-9]*,"path":"[^"]*","baud":[0-9]*,"result":"[a-z-]*"' "$work/report.json" |
    grep -v confirmed | sed 's/^/not confirmed: /' >&2 || true
  local count
  count=$(echo "$confirmed" | grep -c . || true)
  # shellcheck disable=SC2086
  figures="$seconds $peaks $(damaged_images $confirmed) $(image_writes) $((expected - count))"
}

# A fresh work folder with `units` emulated units.
begin_run() {
  local units=$1
  shift
  make_work_folder
  shadow_com_ports "$work"
  start_units "$units" "$@"
}

# In this shell, not a subshell: the folder's clean-up only runs in the
# script's own shell.
end_run() {
  cleanup_work_folder
  work=
  trap - EXIT
}

one_run() {
  local units=$1
  shift
  begin_run "$units" "$@"
  timed_update_all "$units"
  end_run
}

report() {
  local label=$1 one=$2 many=$3
  read -r t1 m1 w1 c1 cw1 d1 l1 h1 a1 u1 <<<"$one"
  read -r tn mn wn cn cwn dn ln hn an un <<<"$many"
  awk -v l="$label" -v n="$count" -v t1="$t1" -v tn="$tn" -v m="$((m1 > mn ? m1 : mn))" \
    -v w="$((w1 > wn ? w1 : wn))" -v d="$((d1 + dn))" -v lw="$((l1 > ln ? l1 : ln))" \
    -v c1="$c1" -v cw1="$cw1" -v cn="$cn" -v cwn="$cwn" -v h1="$h1" -v a1="$a1" -v hn="$hn" -v an="$an" \
    -v u1="$u1" -v un="$un" 'BEGIN {
    printf "%-22s one unit %8.1f s   %d units %8.1f s   ratio %.3f (target at most 1.05)\n", l, t1, n, tn, tn / t1
    printf "%-22s peak memory: tool %.1f MB (target at most 10), worker %.1f MB (target at most 20)\n", "", m / 1024, w / 1024
    printf "%-22s CPU: one unit: tool %.1f s, worker %.1f s; %d units: tool %.1f s, workers %.1f s\n", "", c1, cw1, n, cn, cwn
    printf "%-22s units whose images differ: %d; longest write of image data %.1f s (window 60 s)\n", "", d, lw / 1000
    printf "%-22s writes the line did not hold back: one unit %d of %d, %d units %d of %d\n", "", h1, a1, n, hn, an
    printf "%-22s units not confirmed: one unit %d, %d units %d\n", "", u1, n, un
  }'
}

echo "load before: $(uptime)"
for pace in --pace ""; do
  one_run 1 $pace
  one=$figures
  one_run "$count" $pace
  report "emulator ${pace:-unpaced}" "$one" "$figures"
done

# Silent ports: units that never answer the probe.
scan_time() {
  local ports=$1
  begin_run "$ports" --fault probe:silence
  local started=$EPOCHREALTIME
  (cd "$work" && "$tool" scan --ports "1-$ports" --json >/dev/null 2>&1) || true
  seconds=$(awk -v a="$started" -v b="$EPOCHREALTIME" 'BEGIN { printf "%.2f", b - a }')
  end_run
}
scan_time 1
one=$seconds
scan_time "$count"
awk -v n="$count" -v a="$one" -v b="$seconds" 'BEGIN {
  printf "scan of silent ports    one %6.2f s   %d side by side %6.2f s   ratio %.2f (target at most 1.1)\n", a, n, b, b / a
}'
echo "load after: $(uptime)"
