#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-2.0-or-later
# fwtool run saves the unit's whole part before it writes, and fwtool restore
# puts that copy back: over a table of simulated units kept in --sim-state
# (one per flash procedure), the copy equals the unit's saved flash before
# the run, and after the restore the saved flash equals it again. A failed
# run names the copy and the command that puts it back, and that command
# does. The refusals of restore for units of every kind. Exact exit codes and
# lines.
set -u
fwtool=$1
dir=$2
rm -rf "$dir" && mkdir -p "$dir"
source "$(dirname "$0")/checks.sh"
export XDG_DATA_HOME=$dir/data
backups=$dir/data/fwtool/backups

# fw NAME EXPECTED_RC ARGS...: fwtool with the simulated time taking none.
fw() {
  local name=$1 rc=$2
  shift 2
  run_fwtool "$name" "$rc" --sim-time-scale 0 "$@"
}
same() {
  cmp -s "$1" "$2" || fail "$3: $1 and $2 differ"
}
# saved_copy NAME: the file the run's line names.
saved_copy() {
  sed -n "s/^The unit's contents before the run saved to \(.*\)$/\1/p" "$dir/$1.txt" |
    sed 's/\. To put them back: .*$//' | head -n 1
}

firmware=$dir/firmware.bin
head -c 20000 /dev/urandom >"$firmware"
whole=$dir/whole.bin
head -c 65536 /dev/urandom >"$whole"

# unit name, description, state file, what the run does
table=(
  "serial|vqb719:size=128|unit0-vqb719.flash|--erase-only"
  "dual-bank|vqs175|unit0-vqs175.flash|--erase-only"
  "basic|vq64773:maker=winbond:size=128|unit0-vq64773.flash|--other-chip-file --file $firmware"
  "header|vqb716|unit0-vqb716.flash|--erase-only"
  "paged|vqb713:maker=sst|unit0-vqb713.flash|--erase-only"
  "ieee1394|vqb717:bus=sbp2|unit0-vqb717.flash|--other-chip-file --file $whole"
)
for row in "${table[@]}"; do
  IFS='|' read -r name units flash mode <<<"$row"
  state=$dir/$name
  fw "$name-info" 0 --simulate "$units" --sim-state "$state" info
  cp "$state/$flash" "$dir/$name-before.bin"
  # shellcheck disable=SC2086  # the mode is one option or an option and its file
  fw "$name-run" 0 --simulate "$units" --sim-state "$state" run $mode --yes
  copy=$(saved_copy "$name-run")
  [[ $copy == "$backups"/* ]] || fail "$name: the run names no copy in the backup folder" "$name-run"
  expect "$name-run" "The unit's contents before the run saved to $copy"
  same "$copy" "$dir/$name-before.bin" "$name: the copy is not the unit as it was"
  cmp -s "$state/$flash" "$dir/$name-before.bin" && fail "$name: the run wrote nothing"
  fw "$name-restore" 0 --simulate "$units" --sim-state "$state" restore --device 0 \
    --file "$copy" --yes
  expect "$name-restore" "Restored $copy ($(stat -c %s "$copy") bytes); read back and compared."
  same "$state/$flash" "$dir/$name-before.bin" "$name: the restore did not bring the unit back"
done

# A run that fails names the copy and the command that puts it back; that
# command, given to the same unit without the fault, does.
unit=vq64773:maker=winbond:size=128
state=$dir/failing
fw failing-info 0 --simulate "$unit" --sim-state "$state" info
cp "$state/unit0-vq64773.flash" "$dir/failing-before.bin"
fw failing 1 --simulate "$unit:fail-match=ff0411" --sim-state "$state" run \
  --other-chip-file --file "$firmware" --yes
expect failing "Programming Fail!!"
copy=$(saved_copy failing)
path='sim:usbsto#disk&ven_talve&prod_vq64773#0'
expect failing "The unit's contents before the run saved to $copy. To put them back: fwtool restore --device \"$path\" --file \"$copy\""
same "$copy" "$dir/failing-before.bin" "failing: the copy is not the unit as it was"
fw failing-back 0 --simulate "$unit" --sim-state "$state" restore --device "$path" \
  --file "$copy" --yes
same "$state/unit0-vq64773.flash" "$dir/failing-before.bin" "failing: not brought back"

# No copy, nothing written: the disk area cannot be placed.
fw no-copy 1 --simulate "vqb145:disk=64M:capacity=fail" run --erase-only --yes
expect no-copy "The firmware area on the disk was not found: the disk's capacity cannot be read"
expect no-copy "The unit's contents could not be saved; nothing was written to the device."

# A backup file the operator names that exists already is kept as it is,
# whatever procedure reads the unit; the notice says so and asks for
# another name.
for unit in "basic|vq64771:maker=mxic" "serial|vqs175" "disk|vqb145:disk=64M"; do
  name=exists-${unit%%|*}
  printf 'keep me' >"$dir/$name.bin"
  fw "$name" 1 --simulate "${unit#*|}" run --backup-only --backup-file "$dir/$name.bin"
  expect "$name" "The backup file $dir/$name.bin exists already and was left as it is: give the backup another name."
  [[ $(cat "$dir/$name.bin") == "keep me" ]] || fail "$name: the existing file was changed"
done
expect exists-basic "Open Backup File Error!!"
expect exists-serial "Open Backup File Error!!"

# Refusals, nothing written: a copy of another size (exit 3), a parallel
# unit without its part named (exit 2), options for another kind of unit
# (exit 2), a unit without firmware to restore (exit 3).
state=$dir/basic
head -c 65536 "$dir/basic-before.bin" >"$dir/short.bin"
fw short 3 --simulate vq64773:maker=winbond:size=128 --sim-state "$state" restore \
  --device 0 --file "$dir/short.bin" --yes
expect short "fwtool restore: $dir/short.bin holds 65536 bytes, the unit's flash 131072; nothing written."
same "$state/unit0-vq64773.flash" "$dir/basic-before.bin" "short: the unit changed"

fw parallel-unnamed 2 --simulate vq64779 restore --device 0 --file "$whole" --yes
expect parallel-unnamed "fwtool restore: the unit has a parallel flash; say which part with --flash-type (one of ATMELAT 49BV512, PMC OM39LV512, SST SST39LF512)."
fw parallel-short 3 --simulate vq64779:parallel=sst restore --device 0 \
  --file "$firmware" --flash-type sst --yes
expect parallel-short "fwtool restore: $firmware holds 20000 bytes, the unit's parallel flash 65536; nothing written."
fw not-parallel 2 --simulate vqb719 restore --device 0 --file "$whole" --flash-type sst --yes
expect not-parallel "fwtool restore: --flash-type and --a1-chip are for units with a parallel flash (chip types 2 and 21)."
fw not-disk 2 --simulate vqb719 restore --device 0 --file "$whole" --hdd-fw --yes
expect not-disk "fwtool restore: --hdd-fw is for the firmware a type-12 unit keeps on its disk."
fw disk-short 3 --simulate vqs175:disk=500G restore --device 0 --file "$firmware" --hdd-fw \
  --yes
expect disk-short "fwtool restore: $firmware holds 20000 bytes, the unit's firmware area on the disk 65536; nothing written."
fw no-firmware 3 --simulate vq64765:reg=207 restore --device 0 --file "$whole" --yes
expect no-firmware "fwtool restore: the unit is a VQ64765 Series without firmware to restore."

finish
