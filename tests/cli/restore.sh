#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-2.0-or-later
# fwtool restore on simulated units: a backup written back byte for byte, and
# the files it refuses (size, chip, unreadable) with their exit codes and
# lines; nothing is written when it refuses.
set -u
fwtool=$1
dir=$2
rm -rf "$dir" && mkdir -p "$dir"
source "$(dirname "$0")/checks.sh"

# run NAME EXPECTED_RC UNITS STATE ARGS...: fwtool on UNITS kept in STATE.
run() {
  local name=$1 rc=$2 units=$3 state=$4
  shift 4
  run_fwtool "$name" "$rc" --simulate "$units" --sim-state "$state" "$@"
}
same() {
  cmp -s "$1" "$2" || fail "$1 and $2 differ"
}

unit="vqb719:size=128"
state=$dir/state
path='sim:usbsto#disk&ven_talve&prod_vqb719#0'

# The update saves the whole 128 KB part before it writes.
run update 0 "$unit" "$state" update --yes --backup "$dir/before.bin"
expect update "Programming Success!!"
size=$(stat -c %s "$dir/before.bin" 2>/dev/null || echo missing)
[[ $size == 131072 ]] || fail "backup holds $size bytes, not 131072"

# Written back: the unit's flash is the backup again, byte for byte.
run restore 0 "$unit" "$state" restore --device 0 --file "$dir/before.bin" --yes
expect restore "Device 0: <<USB>> Talve   VQB719 Bridge    ($path)"
expect restore "status Restoring"
expect restore "Restored $dir/before.bin (131072 bytes); read back and compared."
expect restore "Please power cycle the device"
same "$dir/before.bin" "$state/unit0-vqb719.flash"

# By its path, the same.
run restore-path 0 "$unit" "$state" restore --device "$path" --file "$dir/before.bin" --yes
expect restore-path "Restored $dir/before.bin (131072 bytes); read back and compared."

# Refused: too short, another chip's firmware, unreadable, no such device.
head -c 65536 "$dir/before.bin" >"$dir/short.bin"
cp "$state/unit0-vqb719.flash" "$dir/kept.flash"
run short 3 "$unit" "$state" restore --device 0 --file "$dir/short.bin" --yes
expect short "fwtool restore: $dir/short.bin holds 65536 bytes, the unit's flash 131072; nothing written."
same "$dir/kept.flash" "$state/unit0-vqb719.flash"

other=$dir/other.bin
cp "$dir/before.bin" "$other"
# The chip id of the signature block behind the settings area: "719" -> "175".
printf '175' | dd of="$other" bs=1 seek=$((0x1004)) conv=notrunc status=none
run chip 3 "$unit" "$state" restore --device 0 --file "$other" --yes
grep -q "^fwtool restore: $other is not for this chip (.*); nothing written.$" "$dir/chip.txt" ||
  fail "chip: no refusal line" chip
same "$dir/kept.flash" "$state/unit0-vqb719.flash"

run missing 2 "$unit" "$state" restore --device 0 --file "$dir/nothing.bin" --yes
expect missing "fwtool restore: cannot read $dir/nothing.bin."
# A device node that never ends is refused, not read forever.
timeout 20 "$fwtool" --simulate "$unit" --sim-state "$state" restore --device 0 --file /dev/zero \
  --yes >"$dir/endless.txt" 2>&1 </dev/null
rc=$?
[[ $rc -eq 2 ]] || fail "endless: exit code $rc, expected 2" endless
expect endless "fwtool restore: cannot read /dev/zero."
same "$dir/kept.flash" "$state/unit0-vqb719.flash"

run no-device 2 "$unit" "$state" restore --device 3 --file "$dir/before.bin" --yes
expect no-device "fwtool restore: no device 3; the list has 1 (see fwtool info)."

run not-asked 2 "$unit" "$state" restore --device 0 --file "$dir/before.bin"
expect not-asked "fwtool restore: not asking on a non-terminal; give --yes to write."

# A failed update names the backup and the command that puts it back.
failstate=$dir/fail
run update-fails 1 "vqb719:bit-error" "$failstate" update --yes --backup "$dir/failed.bin"
expect update-fails "Flash contents before the update saved to $dir/failed.bin. To put them back: fwtool restore --device \"$path\" --file \"$dir/failed.bin\""

finish
