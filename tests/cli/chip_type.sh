#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-2.0-or-later
# A VQS175/713 unit identifies as type 10; --chip-type 13 makes fwtool take it
# for what it is: info shows the flash found over ATA PASS-THROUGH, and run
# programs it through the staged procedure (erase, program, read back,
# compare), byte for byte. Without the word the unit is a type 10 whose
# flash is not found; the word is refused for any other unit and type.
set -u
fwtool=$1
dir=$2
rm -rf "$dir" && mkdir -p "$dir"
source "$(dirname "$0")/checks.sh"
export XDG_DATA_HOME=$dir/data
state=$dir/state
unit=vqs713:maker=winbond:size=128

# run NAME EXPECTED_RC ARGS...: fwtool on the persistent unit.
run() {
  local name=$1 rc=$2
  shift 2
  run_fwtool "$name" "$rc" --simulate "$unit" --sim-state "$state" --sim-time-scale 0 "$@"
}

# 40,000 bytes made by hand: filler, and at 0x80 the block E9 AC 67 32 with
# the chip id "7130", which makes the file one that brings its own 4 KB
# settings area; with "Include 4K NVRAM" ticked (as it is at start) it goes
# to the flash as it is, rounded up to 40,960 bytes with zeros.
image=$dir/vqs713-new.bin
head -c 40000 /dev/zero | tr '\0' '\135' >"$image"
printf '\xE9\xAC\x67\x32\x37\x31\x33\x30' |
  dd of="$image" bs=1 seek=$((0x80)) conv=notrunc status=none

run info-as-identified 0 info
expect info-as-identified "  Chip:       10 VQB713 Series, sub-revision 0"
expect info-as-identified "  Flash:      Unknown (maker code 0)"
expect info-as-identified \
  "  Note:       a VQS175/713 Series unit (type 13) identifies as type 10 too; say --chip-type 13 for one"

run info-said 0 info --chip-type 13
expect info-said "  Chip:       13 VQS175/713 Series, sub-revision 0"
expect info-said "  Flash:      WINBOND (maker code 6), 128 KB"
grep -q "Note:" "$dir/info-said.txt" && fail "info-said: no note for a unit taken as type 13" info-said

# As type 10 the unit's flash has no size: the file is too big for it.
run as-type-10 1 run --file "$image" --yes
expect as-type-10 "Message: The firmware file size is bigger than the flash size!"

run program 0 run --chip-type 13 --file "$image" --yes
expect program "Device 0: <<USB>> Talve   VQS713 Bridge   , VQS175/713 Series (sim:usbsto#disk&ven_talve&prod_vqs713#0)"
for stage in "status Erasing..." "status Programming...." "status Read back...." \
  "status Compare...." "Programming Success!!" \
  "Message: Please Turn-Off the Power and Turn-On Again!"; do
  expect program "$stage"
done

# The flash read back over ATA PASS-THROUGH: the file, 960 zeros, and the
# rest of the 128 KB erased.
run backup 0 run --chip-type 13 --backup-only --backup-file "$dir/flash.bin"
expect backup "Read flash and backup success!"
{
  cat "$image"
  head -c 960 /dev/zero
  head -c $((131072 - 40960)) /dev/zero | tr '\0' '\377'
} >"$dir/expected.bin"
cmp -s "$dir/flash.bin" "$dir/expected.bin" || fail "backup: the flash does not hold the file" backup

# The copy the run saved first goes back with the same word.
before=$(ls "$XDG_DATA_HOME"/fwtool/backups/*.bin 2>/dev/null | head -n 1)
[[ -n $before ]] || fail "program: no copy of the unit saved before the run" program
run restore 0 restore --device 0 --chip-type 13 --file "$before" --yes
expect restore "Restored $before (131072 bytes); read back and compared."
run backup-restored 0 run --chip-type 13 --backup-only --backup-file "$dir/restored.bin"
cmp -s "$dir/restored.bin" "$before" || fail "restore: the flash does not hold the copy" restore
cmp -s "$before" "$dir/expected.bin" && fail "restore: the copy already held the new file"

# The word only where identification cannot tell.
run_fwtool other-unit 2 --simulate vqb719 run --chip-type 13 --file "$image" --yes
expect other-unit \
  "fwtool run: --chip-type 13 is for a unit that identifies as type 10 (VQB713 Series); entry 0 identifies as type 8 (VQB711/719 Series)."
run other-type 2 run --chip-type 12 --file "$image" --yes
expect other-type \
  "fwtool run: --chip-type takes 13 (a unit that identifies as type 10); identification tells every other type."

finish
