#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-2.0-or-later
# fwtool run --json on simulated units: the outcome is one object on stdout,
# field for field, for a program run, a backup, a run whose disk reads are
# refused and a file that fails its checksum; the exit codes are those of
# the plain output.
set -u
fwtool=$1
dir=$2
rm -rf "$dir" && mkdir -p "$dir"
source "$(dirname "$0")/checks.sh"
# The copy a run saves before it writes goes to the backup folder under here.
export XDG_DATA_HOME=$dir/data

# run_json NAME EXPECTED_RC UNITS ARGS...: the object in $dir/NAME.json,
# stderr in $dir/NAME.err.
run_json() {
  local name=$1 rc=$2 units=$3
  shift 3
  "$fwtool" --simulate "$units" --sim-time-scale 0 run "$@" --json \
    >"$dir/$name.json" 2>"$dir/$name.err" </dev/null
  local got=$?
  [[ $got -eq $rc ]] || fail "$name: exit code $got, expected $rc" "$name"
}

# same NAME: the object is the one on stdin, byte for byte, with the time
# stamp of a backup's name written as STAMP.
same() {
  sed -E 's/-[0-9]{8}-[0-9]{6}(-[0-9]+)?\.bin"/-STAMP.bin"/' "$dir/$1.json" >"$dir/$1.stamped"
  diff -u - "$dir/$1.stamped" >"$dir/$1.diff" || {
    fail "$1: the object differs"
    cat "$dir/$1.diff"
  }
}

# 20,000 bytes that are no firmware of this chip (the window asks, then
# programs them all the same).
firmware=$dir/firmware.bin
head -c 20000 /dev/zero | tr '\0' '\021' >"$firmware"
unit_145='{
    "chipLabel": "VQB145 Series",
    "chipType": 15,
    "index": 0,
    "item": "<<USB>> Talve   VQB145 Bridge   ",
    "path": "sim:usbsto#disk&ven_talve&prod_vqb145#0",
    "subRevision": 0
  }'

run_json program 0 "vqb145:disk=64M" --file "$firmware" --other-chip-file --yes
same program <<EOF
{
  "backupFile": "$XDG_DATA_HOME/fwtool/backups/sim_usbsto_disk_ven_talve_prod_vqb145_0-STAMP.bin",
  "boxes": [
    {
      "caption": "Message",
      "text": "The firmware file seems not match this chip!"
    },
    {
      "caption": "Message",
      "text": "Please Turn-Off the Power and Turn-On Again!"
    }
  ],
  "lastFailedCommand": null,
  "procedure": "RunDiskHostedUpdate",
  "result": "success",
  "statusTexts": [
    "Backup before writing",
    "Programming",
    "Programming Success!!"
  ],
  "unit": $unit_145
}
EOF

run_json backup 0 "vqb145:disk=64M" --backup-only --backup-file "$dir/backup.bin"
same backup <<EOF
{
  "backupFile": "$dir/backup.bin",
  "boxes": [],
  "lastFailedCommand": null,
  "procedure": "RunDiskHostedUpdate",
  "result": "success",
  "statusTexts": [
    "Backup ...",
    "Read flash and backup success!"
  ],
  "unit": $unit_145
}
EOF
[[ -s $dir/backup.bin ]] || fail "backup: no backup file"

# Every READ(10) refused: the firmware area cannot be found, nothing saved.
run_json refused-reads 1 "vqb145:disk=64M:fail-match=28" --backup-only --backup-file "$dir/never.bin"
same refused-reads <<EOF
{
  "backupFile": null,
  "boxes": [],
  "lastFailedCommand": "ILLEGAL REQUEST, invalid command operation code",
  "procedure": "RunDiskHostedUpdate",
  "result": "failure",
  "statusTexts": [
    "The firmware area on the disk was not found: the firmware area would lie inside the capacity the host is shown"
  ],
  "unit": $unit_145
}
EOF
[[ -e $dir/never.bin ]] && fail "refused-reads: a backup file was written"

# The checksum test fails as the file is loaded: "Run" stays disabled and
# nothing is sent; the simple message box has the application's title.
run_json checksum 1 "vqs175" --file "$firmware" --check-sum --yes
same checksum <<EOF
{
  "backupFile": null,
  "boxes": [
    {
      "caption": "Message",
      "text": "The firmware file seems not match this chip!"
    },
    {
      "caption": "TALVE VQB719 FW Update Utility",
      "text": "Please check the firmware file with checksum!"
    }
  ],
  "lastFailedCommand": null,
  "procedure": null,
  "result": "not available",
  "statusTexts": [],
  "unit": {
    "chipLabel": "VQS175 Series",
    "chipType": 12,
    "index": 0,
    "item": "<<USB>> Talve   VQS175 Bridge   ",
    "path": "sim:usbsto#disk&ven_talve&prod_vqs175#0",
    "subRevision": 0
  }
}
EOF
grep -qxF 'fwtool run: "Run" is not available for this unit and these options.' "$dir/checksum.err" ||
  fail "checksum: stderr lacks the refusal" checksum

finish
