#!/usr/bin/env bash
# Writes the seed corpora to fuzz/corpus/<target>/ from checked-in
# descriptions and examples; nothing in them is edited by hand.
#   fuzz/make_seeds.sh MAKE_FIRMWARE
set -euo pipefail
cd "$(dirname "$0")/.."
make_firmware=$1
corpus=fuzz/corpus

rm -rf "$corpus"
mkdir -p "$corpus/firmware_reader" "$corpus/update_job" "$corpus/sim_board"

for fw in fuzz/seeds/*.fw examples/demo.fw; do
  name=$(basename "$fw" .fw)
  "$make_firmware" "$fw" "$corpus/firmware_reader/$name.enc"
done
# Damaged variants: a cut-off record, an unknown token, a bad check value.
head -c 20 "$corpus/firmware_reader/mixed.enc" > "$corpus/firmware_reader/cut.enc"
{ printf 'X\002ab'; cat "$corpus/firmware_reader/code-only.enc"; } > "$corpus/firmware_reader/unknown-token.enc"
cp "$corpus/firmware_reader/overlap.enc" "$corpus/firmware_reader/bad-crc.enc"
printf '\377' | dd of="$corpus/firmware_reader/bad-crc.enc" bs=1 seek=12 conv=notrunc status=none
: > "$corpus/firmware_reader/empty.enc"

# The job gets the same files, demo.enc only as the checked-in file.
cp "$corpus/firmware_reader/"*.enc "$corpus/update_job/"
rm "$corpus/update_job/demo.enc"
cp examples/demo.enc "$corpus/update_job/demo.enc"

# Board sessions: a setup byte, then operations (see fuzz_sim_board.cpp):
# 0 open, 1 short write (handle, 9 bytes), 2 long write (handle, 73 bytes),
# 3 read (handle), 4 close (handle), 5 fault (kind, key, occurrence, value).
zeros() { head -c "$1" /dev/zero; }
session() {  # name, then the operations as printf escapes
  local name=$1; shift
  printf "$@" > "$corpus/sim_board/$name"
}
session identify '\002\000\001\000\000\000\000\000\000\000\000\000\003\000\004\000'
session enter-loader '\002\000\001\000\000\002\000\000\000\000\000\000\003\000\001\000\000\006\000\125\252\000\000\000\000\003\000\004\000'
session erase '\002\000\001\000\000\302\001\000\020\000\252\125\000\003\000\004\000'
session faults '\002\005\003\302\001\005\000\001\000\000\302\001\000\020\000\252\125\000\003\000\003\000\006\004\000'
{ printf '\002\000\002\000\000\020\010\000\020\000'; zeros 66; printf '\003\000\004\000'; } > "$corpus/sim_board/upload"
