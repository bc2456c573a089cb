#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-2.0-or-later
# Recorded runs replayed: `fwtool list` and `fwtool update` recorded through
# the real USB storage stack (tools/kernel-harness/record-fixture) answer the
# same run again; a recording changed at one command stops the run there,
# naming it; a run that ends early says what it did not send; a file that is
# no recording is refused with the reason; and a run of several units side
# by side replays whatever its interleaving.
set -u
fwtool=$1
fixtures=$2
dir=$3
rm -rf "$dir" && mkdir -p "$dir"
export XDG_DATA_HOME=$dir/data
source "$(dirname "$0")/checks.sh"

# run NAME EXPECTED_RC ARGS...: stdout in $dir/NAME.txt, stderr in $dir/NAME.err.
run() {
  local name=$1 rc=$2
  shift 2
  "$fwtool" "$@" >"$dir/$name.txt" 2>"$dir/$name.err" </dev/null
  local got=$?
  [[ $got -eq $rc ]] || fail "$name: exit code $got, expected $rc" "$name"
}
# same NAME: stdout of NAME is exactly $dir/NAME.expected, stderr is empty.
same() {
  diff -u "$dir/$1.expected" "$dir/$1.txt" || fail "$1: output differs" "$1"
  [[ ! -s $dir/$1.err ]] || fail "$1: says something on stderr" "$1"
}

run list 0 --simulate "replay:$fixtures/kernel-list.json" list
cat >"$dir/list.expected" <<'OUT'
#   device                             bus    chip                   state             path
0   <<USB>> Talve   VQB719 Bridge      USB    8 VQB711/719 Series    to update         usbsto:/dev/sg0
-                                      USB    0 Unknown Chip         not a target chip usbsto:/dev/sg1
Click 'Yes' to proceed with the firmware update
OUT
same list

run update 0 --simulate "replay:$fixtures/kernel-update.json" update --yes --backup "$dir/before.bin"
{
  echo "Device 0: <<USB>> Talve   VQB719 Bridge    (usbsto:/dev/sg0)"
  printf 'progress %s%%\n' 0 20
  echo "status ReadFlash..."
  echo "progress 30%"
  echo "status Programming"
  printf 'progress %s%%\n' 35 40 45 50 55 60 65 70 75 85
  echo "status ReadFlash..."
  printf 'progress %s%%\n' 95 100
  echo "status Programming Success!!"
  echo "Flash contents before the update saved to $dir/before.bin"
  echo "Programming Success!!"
  echo "Please power cycle the device"
} >"$dir/update.expected"
same update
size=$(stat -c %s "$dir/before.bin" 2>/dev/null || echo missing)
[[ $size == 65536 ]] || fail "update: backup is $size bytes, expected 65536" update

# Command 14 recorded with another flash address: the run stops there.
sed 's/"index":14,\(.*\)"cdb":"DF 10 00 20 00 00 00 00 00 40 00 FA"/"index":14,\1"cdb":"DF 10 00 20 00 00 00 00 00 48 00 FA"/' \
  "$fixtures/kernel-list.json" >"$dir/changed.json"
run changed 1 --simulate "replay:$dir/changed.json" --trace list
why="command 14 differs from the recording: block [DF 10 00 20 00 00 00 00 00 40 00 FA] sent, [DF 10 00 20 00 00 00 00 00 48 00 FA] recorded"
[[ $(tail -1 "$dir/changed.err") == "fwtool: replay: $why" ]] || fail "changed: no reason naming command 14" changed
grep -qxF "usbsto:/dev/sg0 IN  [DF 10 00 20 00 00 00 00 00 40 00 FA] len=8192 t/o=10s -> FAIL [transport] moved=0 status=0x00 host=0x07 driver=0x00 (replay: $why)" \
  "$dir/changed.err" || fail "changed: the command does not fail as a transport failure" changed
# Commands before it were answered from the recording.
[[ $(grep -c -- '-> ok' "$dir/changed.err") -eq 13 ]] || fail "changed: 13 commands should pass" changed

# The update's recording replayed by a list: the list ends first.
run early 1 --simulate "replay:$fixtures/kernel-update.json" list
[[ $(cat "$dir/early.err") == "fwtool: replay: the run ended before the recording did; 132 recorded commands were not sent, the first: command 45 (usbsto:/dev/sg0 IN [12 00 00 00 28 00 00 00 00 00 00 00] len=40)" ]] ||
  fail "early: the commands not sent are not named" early

# A recording comes from elsewhere: a file that is not one, or one with a
# field of the wrong type or size, is refused with the command and field
# named, before anything runs (exit 2), never read for ever or allocated for.
printf '{"format": "fwtool recorded run", "version": "1", "commands": []}' >"$dir/version.json"
sed 's/"index":1,\(.*\)"length":40,/"index":1,\1"length":4294967295,/' \
  "$fixtures/kernel-list.json" >"$dir/length.json"
sed 's/"index":3,\(.*\)"scsiStatus":0,/"index":3,\1"scsiStatus":"good",/' \
  "$fixtures/kernel-list.json" >"$dir/status.json"
for bad in "/dev/zero: not a regular file" \
  "$dir/version.json: \"version\" is not a whole number; this program reads version 1" \
  "$dir/length.json: entry 1 of \"commands\": \"length\" is not a whole number from 0 to 16777216" \
  "$dir/status.json: entry 3 of \"commands\": \"scsiStatus\" is not a whole number from 0 to 255"; do
  file=${bad%%: *}
  name=bad-$(basename "$file")
  timeout 20 "$fwtool" --simulate "replay:$file" list >"$dir/$name.txt" 2>"$dir/$name.err" </dev/null
  got=$?
  [[ $got -eq 2 ]] || fail "$name: exit code $got, expected 2" "$name"
  [[ $(head -1 "$dir/$name.err") == "--simulate: $bad" ]] || fail "$name: not the reason" "$name"
done

# Two units updated side by side, recorded and replayed.
run record-all 0 --simulate vqb719,vqb719 --sim-time-scale 0 --record "$dir/all.json" update --all --yes
run replay-all 0 --simulate "replay:$dir/all.json" update --all --yes
grep -qxF "2 updated, 0 failed, 0 already updated." "$dir/replay-all.txt" || fail "replay-all: not both updated" replay-all

finish
