#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-2.0-or-later
# fwtool run on simulated units that keep their firmware on the disk behind
# the bridge: program, backup and erase of a type-15 unit, a refusal that
# writes nothing, and type 12's disk copy with --hdd-fw. Checks exact exit
# codes and lines.
set -u
fwtool=$1
dir=$2
rm -rf "$dir" && mkdir -p "$dir"
source "$(dirname "$0")/checks.sh"

# run NAME EXPECTED_RC UNITS ARGS...: fwtool on UNITS.
run() {
  local name=$1 rc=$2 units=$3
  shift 3
  run_fwtool "$name" "$rc" --simulate "$units" "$@"
}

firmware=$dir/firmware.bin
head -c 20000 /dev/urandom >"$firmware"

run program 0 "vqb145:disk=64M" run --other-chip-file --file "$firmware" --yes
expect program "Programming Success!!"
expect program "Message: Please Turn-Off the Power and Turn-On Again!"

# A 64 MB disk: the unit's firmware starts at sector 130,560; its marker
# holds the anchor 130,817 (0x0001FF01).
run backup 0 "vqb145:disk=64M" run --backup-only --backup-file "$dir/backup.bin"
expect backup "Read flash and backup success!"
size=$(stat -c %s "$dir/backup.bin" 2>/dev/null || echo missing)
[[ $size == 65536 ]] || fail "backup: size $size, expected 65536"
marker=$(od -An -tx1 -j150 -N6 "$dir/backup.bin" | tr -d ' \n')
[[ $marker == 550001ff01aa ]] || fail "backup: marker $marker, expected 550001ff01aa"

# More than the area holds: the 128 KB of the area, and the output says so.
run backup-512k 0 "vqb145:disk=64M" run --backup-only --flash-size 512KB \
  --backup-file "$dir/backup-512k.bin"
expect backup-512k "Read flash and backup success! 131072 of 524288 bytes saved: the firmware area on the disk holds no more."
size=$(stat -c %s "$dir/backup-512k.bin" 2>/dev/null || echo missing)
[[ $size == 131072 ]] || fail "backup-512k: size $size, expected 131072"

run erase 0 "vqb145:disk=3T:sector=4096" run --erase-only --yes
expect erase "Erase all data in HDD success!!"

# A drive of 2^32 + 5 sectors whose controller shows 4,294,966,784 of them
# (0xFFFFFE00): the firmware is written there, right behind the capacity,
# and nowhere else.
head -c 65536 /dev/urandom >"$dir/fw64k.bin"
run big-disk 0 "vqb145:disk=4294967301s:visible=4294966784" --trace run --other-chip-file --file "$dir/fw64k.bin" --yes
expect big-disk "Programming Success!!"
writes=$(grep -oE 'OUT +\[(8A|2A)( [0-9A-F]{2}){9}' "$dir/big-disk.txt" | sort -u | tr '\n' ';')
[[ $writes == "OUT [8A 00 00 00 00 00 FF FF FE 00;" ]] ||
  fail "big-disk: disk writes $writes, expected one WRITE(16) at 0xFFFFFE00" big-disk

run refused 1 "vqb145:disk=64M:capacity=fail" run --other-chip-file --file "$firmware" --yes
expect refused "The firmware area on the disk was not found: the disk's capacity cannot be read"

run hdd-fw 0 "vqs175:disk=500G" run --hdd-fw --other-chip-file --file "$firmware" --yes
expect hdd-fw "Programming Success!!"
expect hdd-fw "Message: VQS175 Auto reset, Please wait device re-attached!"

# The disk copy of a type-12 unit, backed up: 64 KB 2 MB below the last 1 MB
# boundary of a disk that holds nothing there yet.
run hdd-fw-backup 0 "vqs175:disk=500G" run --hdd-fw --backup-only --backup-file "$dir/hdd.bin"
expect hdd-fw-backup "Read flash and backup success!"
cmp -s "$dir/hdd.bin" <(head -c 65536 /dev/zero) ||
  fail "hdd-fw-backup: the backup is not the 64 KB of zeros the disk holds"

finish
