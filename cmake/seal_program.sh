#!/bin/sh
# Seals the program as shipped: its length and the MD5 of its bytes go over the placeholder the
# program carries (src/tools/program_check.cpp), the digest computed with its own 32 characters
# still '0'. The program's check start compares its file with them, so a program damaged on the
# way to the box (a block of it zeroed) is refused before it replaces the running one.
set -eu
file=$1
placeholder='VYR-PROGRAM-SEAL:unsealed:00000000000000000000000000000000'
offsets=$(LC_ALL=C grep -obaF "$placeholder" "$file" | cut -d: -f1)
count=$(printf '%s\n' "$offsets" | grep -c '^[0-9]' || true)
if [ "$count" != 1 ]; then
  echo "seal_program.sh: $count placeholders in $file, expected one" >&2
  exit 1
fi
size=$(($(wc -c < "$file")))
printf '%08x' "$size" | dd of="$file" bs=1 seek=$((offsets + 17)) conv=notrunc status=none
digest=$(md5sum "$file" | cut -c1-32)
printf '%s' "$digest" | dd of="$file" bs=1 seek=$((offsets + 26)) conv=notrunc status=none
