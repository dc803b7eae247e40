#!/usr/bin/env bash
# Times `OrvaneFwTool flatten` as a whole process against objcopy and srec_cat
# on the same Intel HEX file, in one hyperfine run, and checks that the three
# agree on the image bytes.
#   bench/compare_flatten.sh BUILD_DIR [HEX_FILE]
set -euo pipefail
build=${1:?usage: compare_flatten.sh BUILD_DIR [HEX_FILE]}
here=$(cd "$(dirname "$0")/.." && pwd)
hex=${2:-$here/images/M731946_RX_XC7A35_1_05.mcs}
tool=$build/tools/OrvaneFwTool
for needed in hyperfine objcopy srec_cat; do
  command -v "$needed" >/dev/null || { echo "needs $needed (apt-get install hyperfine binutils srecord)" >&2; exit 1; }
done
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

"$tool" flatten "$hex" "$work/ours.bin"
objcopy -I ihex -O binary "$hex" "$work/objcopy.bin"
srec_cat "$hex" -Intel -o "$work/srec.bin" -Binary
length=$(stat -c %s "$work/ours.bin")
cmp -n "$length" "$work/ours.bin" "$work/objcopy.bin"
cmp -n "$length" "$work/ours.bin" "$work/srec.bin"
echo "images agree over the first $length bytes"

hyperfine --warmup 3 --min-runs 30 -N \
  --export-markdown "$work/result.md" \
  -n OrvaneFwTool "$tool flatten $hex $work/a.bin" \
  -n objcopy "objcopy -I ihex -O binary $hex $work/b.bin" \
  -n srec_cat "srec_cat $hex -Intel -o $work/c.bin -Binary"
cat "$work/result.md"
