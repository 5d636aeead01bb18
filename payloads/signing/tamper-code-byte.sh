#!/usr/bin/env bash
# Copies a signed PE file and changes one byte in the middle of its code
# section (.text), so that the signature no longer matches the image digest.
set -euo pipefail
if [ $# -ne 2 ]; then
  echo "usage: tamper-code-byte.sh INPUT OUTPUT" >&2
  exit 2
fi
input=$1 output=$2

# Little-endian unsigned integer of SIZE bytes at OFFSET.
read_le() {
  od -An -t "u$2" -j "$1" -N "$2" --endian=little "$input" | tr -d ' '
}

pe=$(read_le 60 4)
[ "$(od -An -c -j "$pe" -N 2 "$input" | tr -d ' ')" = "PE" ] || { echo "$input is not a PE file" >&2; exit 1; }
sections=$(read_le $((pe + 6)) 2)
optional_size=$(read_le $((pe + 20)) 2)
table=$((pe + 24 + optional_size))

target=
for ((i = 0; i < sections; i++)); do
  entry=$((table + 40 * i))
  name=$(od -An -c -j "$entry" -N 5 "$input" | tr -d ' ')
  if [ "$name" = ".text" ]; then
    raw_size=$(read_le $((entry + 16)) 4)
    raw_offset=$(read_le $((entry + 20)) 4)
    target=$((raw_offset + raw_size / 2))
    break
  fi
done
[ -n "$target" ] || { echo "$input has no .text section" >&2; exit 1; }

cp "$input" "$output.tmp"
old=$(read_le "$target" 1)
printf "$(printf '\\%03o' $(((old ^ 0xFF) & 0xFF)))" |
  dd of="$output.tmp" bs=1 seek="$target" conv=notrunc status=none
mv "$output.tmp" "$output"
