#!/usr/bin/env bash
# Seeds each fuzz target's corpus from the shipped data and the simulator's demo regulator; a seed
# that is already there is kept, so a grown corpus is never lost.
set -euo pipefail
root="$1"
corpus="$root/fuzz/corpus"
mkdir -p "$corpus"/{fuzz_parser,fuzz_profile,fuzz_model,fuzz_readreply}
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
