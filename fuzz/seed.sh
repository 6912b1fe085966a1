#!/usr/bin/env bash
# Seeds each fuzz target's corpus from the shipped data and the simulator's demo regulator; a seed
# that is already there is kept, so a grown corpus is never lost.
set -euo pipefail
root="$1"
corpus="$root/fuzz/corpus"
mkdir -p "$corpus"/{fuzz_parser,fuzz_profile,fuzz_model,fuzz_readreply,fuzz_cycle,fuzz_eeprom,fuzz_paramfile,fuzz_language,fuzz_backup}
seed() { [ -e "$1/$2" ] || cp "$3" "$1/$2"; }
n=0
while IFS= read -r -d '' f; do
  n=$((n + 1))
  seed "$corpus/fuzz_profile" "data-$n" "$f"
  seed "$corpus/fuzz_model" "data-$n" "$f"
  seed "$corpus/fuzz_readreply" "data-$n" "$f"
done < <(find "$root/data" -type f \( -name '*.ini' -o -name '*.txt' -o -name '*.regsim' \) -print0)
# Replies as the demo regulator sends them: identification, read reply, acknowledgements.
printf '\x01\xFE\x05\x01\x02\x03\x04\x05\x01\xFA\xFB\xFC' > "$corpus/fuzz_parser/replies"
printf '\x02\xFE\x03\x03\xE8\x02\x69\xFE\x01\x00\x01' > "$corpus/fuzz_parser/read"
printf '\x10\xFE\x04\x05\x01\x02\x08\x0C\xFE\x01\x08\x08' > "$corpus/fuzz_parser/log"
# The language files as shipped, for their application to the windows.
for f in "$root"/data/Languages/*.ini; do
  seed "$corpus/fuzz_language" "$(basename "$f")" "$f"
done
# A parameter file as the demo regulator's panel saves it, and one of the old platform's shape.
printf '12,5\r\n3,2\r\n11 400\r\nData\r\n1\r\n2\r\n0\r\n3\r\n1\r\n0\r\n' > "$corpus/fuzz_paramfile/demo"
printf '\x03\x06a\r\nb\rc\nData\r\n-1\r\n 2\r\n7\x00junk' > "$corpus/fuzz_paramfile/odd"
# Cycle inputs: COM (first byte even) or USB (odd), then steps (see fuzz_cycle.cpp); the replies
# are the demo regulator's identification and read reply.
id=$'\xFE\x21KVX-40 OPTO     \x00V1.03\x001.1.2007\x00\x80\x00'
printf '\x00\x04\x0b\x10\x00%s\x0b\x05\x00\x0b\x08\x04\x10' "$id" > "$corpus/fuzz_cycle/com"
printf '\x01\x00\x10%s\x04\x40\x0b\x05\x0b\x08' "$id" > "$corpus/fuzz_cycle/usb"
# Log downloads: record count, records, wrong check bytes, piece size, garbage.
printf '\x03\x03\x05\x01\x02\x06\x0c\x22\x7f\x00\x10\x08\x01\x08\x01\x00\x00' > "$corpus/fuzz_eeprom/demo"
# A backup record of the demo regulator's shape, one of a factory reset without its check line.
printf '[BACKUP]\r\nKIND=write\r\nTAKEN=2026-03-14T09:26:53\r\nNAME="KVX-40 OPTO"\r\nVERSION="V1.03"\r\nDATE="1.1.2007"\r\nFLAGS=80\r\nLANGUAGE=CZ\r\nALTERNATE=0\r\nDISPLAY=3\r\nITEMS=4 3 2 2\r\nREAD=07 D0 04 4C 2B 11 00 0C 05 01 02 01 00 AA\r\n' > "$corpus/fuzz_backup/write"
printf '[BACKUP]\r\nKIND=default\r\nNAME=x\r\nVERSION=V0\r\nDATE=\r\nFLAGS=00\r\nDISPLAY=0\r\nITEMS=\r\nREAD=03 E8 02 69\r\n' > "$corpus/fuzz_backup/default"
