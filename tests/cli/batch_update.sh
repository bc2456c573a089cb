#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-2.0-or-later
# fwtool update --all on three simulated units, the middle one with a flash
# that flips bits when programmed: the closing table, the exit codes, the
# JSON outcome, the backups and which units the next list finds updated.
set -u
fwtool=$1
dir=$2
rm -rf "$dir" && mkdir -p "$dir"
export XDG_DATA_HOME=$dir/data
backups=$dir/data/fwtool/backups
units="vqb719,vqb719:bit-error,vqb719"
source "$(dirname "$0")/checks.sh"

# run NAME EXPECTED_RC ARGS...: stdout in $dir/NAME.txt, stderr in $dir/NAME.err.
run() {
  local name=$1 rc=$2
  shift 2
  "$fwtool" --sim-time-scale 0 "$@" >"$dir/$name.txt" 2>"$dir/$name.err" </dev/null
  local got=$?
  [[ $got -eq $rc ]] || fail "$name: exit code $got, expected $rc" "$name"
}
# The backup names carry the time of the run.
stamped() {
  sed -E 's/-[0-9]{8}-[0-9]{6}(-[0-9]+)?\.bin/-STAMP.bin/' "$dir/$1.txt"
}

run batch 1 --simulate "$units" --sim-state "$dir/state" update --all --yes
b=$backups/sim_usbsto_disk_ven_talve_prod_vqb719
cat >"$dir/table.expected" <<TABLE
unit  path                                     result                        backup file
0     sim:usbsto#disk&ven_talve&prod_vqb719#0  updated                       ${b}_0-STAMP.bin
1     sim:usbsto#disk&ven_talve&prod_vqb719#1  failed: Data compare fail !!  ${b}_1-STAMP.bin
2     sim:usbsto#disk&ven_talve&prod_vqb719#2  updated                       ${b}_2-STAMP.bin
2 updated, 1 failed, 0 already updated.
Please power cycle every updated device.
TABLE
stamped batch | sed -n '/^unit  path/,$p' >"$dir/table.got"
diff -u "$dir/table.expected" "$dir/table.got" || fail "batch: the closing table differs" batch
head -4 "$dir/batch.txt" >"$dir/head.got"
cat >"$dir/head.expected" <<HEAD
Units to update:
  unit 0: <<USB>> Talve   VQB719 Bridge    (sim:usbsto#disk&ven_talve&prod_vqb719#0)
  unit 1: <<USB>> Talve   VQB719 Bridge    (sim:usbsto#disk&ven_talve&prod_vqb719#1)
  unit 2: <<USB>> Talve   VQB719 Bridge    (sim:usbsto#disk&ven_talve&prod_vqb719#2)
HEAD
diff -u "$dir/head.expected" "$dir/head.got" || fail "batch: the units to update differ" batch
# Each unit's own lines, in its own order, whatever the interleaving.
for unit in 0 2; do
  grep "^unit $unit: status" "$dir/batch.txt" | tail -1 | grep -qxF "unit $unit: status Programming Success!!" ||
    fail "batch: unit $unit did not end in success" batch
done
[[ $(grep -cxF "unit 1: status Data compare fail !!" "$dir/batch.txt") -eq 3 ]] ||
  fail "batch: unit 1 should fail its three attempts" batch
# Every unit saved its whole flash before anything was written.
for unit in 0 1 2; do
  size=$(stat -c %s "$b"_"$unit"-*.bin 2>/dev/null || echo missing)
  [[ $size == 65536 ]] || fail "batch: backup of unit $unit is $size bytes, expected 65536" batch
done

# The next list finds units 0 and 2 updated and unit 1 still to update.
run after 0 --simulate "$units" --sim-state "$dir/state" list
expect after "Click 'Yes' to proceed with the firmware update"
[[ $(grep -c "already updated" "$dir/after.txt") -eq 2 ]] || fail "after: two units should be updated" after
grep -q "^0 .*to update .*prod_vqb719#1$" "$dir/after.txt" || fail "after: unit 1 should be listed" after

# Unit 1 alone is left to update; it fails again, the others are not touched.
run again 1 --simulate "$units" --sim-state "$dir/state" update --all --yes --json
stamped again >"$dir/again.got"
cat >"$dir/again.expected" <<JSON
{
  "alreadyUpdated": 2,
  "failed": 1,
  "units": [
    {
      "backup": null,
      "item": null,
      "path": "sim:usbsto#disk&ven_talve&prod_vqb719#0",
      "result": "already updated",
      "status": "",
      "unit": 0
    },
    {
      "backup": "${b}_1-STAMP.bin",
      "item": "<<USB>> Talve   VQB719 Bridge   ",
      "path": "sim:usbsto#disk&ven_talve&prod_vqb719#1",
      "result": "failed",
      "status": "Data compare fail !!",
      "unit": 1
    },
    {
      "backup": null,
      "item": null,
      "path": "sim:usbsto#disk&ven_talve&prod_vqb719#2",
      "result": "already updated",
      "status": "",
      "unit": 2
    }
  ],
  "updated": 0
}
JSON
diff -u "$dir/again.expected" "$dir/again.got" || fail "again: the JSON outcome differs" again

# Every unit written and verified: exit code 0.
run good 0 --simulate "vqb719,vqb719" update --all --yes
expect good "2 updated, 0 failed, 0 already updated."
# Nothing to update: the window's sentence and exit code 1.
run none 1 --simulate "vqb719:fw=embedded,vqb719:fw=embedded" update --all --yes
expect none "The chip already updated!!"
# Usage errors: one entry or one backup file do not go with --all, and
# nothing is written without --yes when no one can be asked.
run with-device 2 --simulate vqb719 update --all --device 0 --yes
run with-backup 2 --simulate vqb719 update --all --backup "$dir/one.bin" --yes
run not-asked 2 --simulate vqb719 update --all
grep -qxF "fwtool update: not asking on a non-terminal; give --yes to update." "$dir/not-asked.err" ||
  fail "not-asked: no reason given" not-asked

finish
