#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-2.0-or-later
# The engineering face from the terminal on a simulated type-12 unit: info,
# run --file (program), info again showing the new version, backup-only,
# erase-only, and the refusals. Checks exact exit codes and lines.
set -u
fwtool=$1
dir=$2
rm -rf "$dir" && mkdir -p "$dir"
state=$dir/state
source "$(dirname "$0")/checks.sh"

# run NAME EXPECTED_RC ARGS...: fwtool on the persistent unit.
run() {
  local name=$1 rc=$2
  shift 2
  run_fwtool "$name" "$rc" --simulate vqs175 --sim-state "$state" "$@"
}

# A 64 KB type-12 bank image made by hand: filler, the version the unit will
# report (bytes 2..5 of the six at 0xBFE0 print as "03.04.05.06"), and the
# signature block 55 AA AA 55 "1750" at 0xBFF0. The checksum at 0xBFFE is the
# program's to add.
image=$dir/vqs175-new.bin
head -c 65536 /dev/zero | tr '\0' '\021' >"$image"
printf '\x01\x02\x03\x04\x05\x06' | dd of="$image" bs=1 seek=$((0xBFE0)) conv=notrunc status=none
printf '\x55\xAA\xAA\x55\x31\x37\x35\x30\x00\x00' |
  dd of="$image" bs=1 seek=$((0xBFF0)) conv=notrunc status=none

run info-before 0 info --device 0
expect info-before "  Chip:       12 VQS175 Series, sub-revision 0"
expect info-before "  Firmware:   49.48.48.50"

run program 0 run --device 0 --file "$image" --yes
expect program "Programming Success!!"
expect program "Message: VQS175 Auto reset, Please wait device re-attached!"

run info-after 0 info
expect info-after "  Firmware:   03.04.05.06"
expect info-after "  Runs:       firmware from its flash"

# Backup only, without the settings area: the first 48 KB of bank 0, which
# hold the image up to its checksum (the last two bytes are the program's).
run backup 0 run --backup-only --no-nvram --backup-file "$dir/backup.bin"
expect backup "Read flash and backup success!"
size=$(stat -c %s "$dir/backup.bin" 2>/dev/null || echo missing)
[[ $size == 49152 ]] || fail "backup: size $size, expected 49152"
cmp -s -n 49148 "$dir/backup.bin" "$image" || fail "backup: does not hold the programmed image"

# Nothing to do, or no answer to the question on a non-terminal.
run no-mode 2 run --device 0
run not-asked 2 run --erase-only
run no-entry 2 run --device 3 --erase-only --yes
expect no-entry "fwtool run: no entry 3; the list has 1 (see fwtool info)."
# The unit's flash is a serial one: its face shows no parallel part to choose.
run not-parallel 2 run --erase-only --flash-type sst --yes
expect not-parallel "fwtool run: --flash-type and --a1-chip are for units with a parallel flash (chip types 2 and 21)."
run not-a1 2 run --erase-only --a1-chip --yes
expect not-a1 "fwtool run: --flash-type and --a1-chip are for units with a parallel flash (chip types 2 and 21)."

run erase 0 run --erase-only --yes
expect erase "Erase flash all success!"
run info-erased 0 info --json
grep -q '"firmwareVersion": "Internal code"' "$dir/info-erased.txt" ||
  fail "info-erased: the erased unit should run its internal code" info-erased

# A file whose signature names another chip ("7190" where the unit's files
# name "1750"): refused without --other-chip-file, nothing written; taken
# with it.
other=$dir/other-chip.bin
cp "$image" "$other"
printf '\x37\x31\x39\x30' | dd of="$other" bs=1 seek=$((0xBFF4)) conv=notrunc status=none
cp "$state/unit0-vqs175.flash" "$dir/before-other.flash"
run other-chip 1 run --device 0 --file "$other" --yes
expect other-chip "Message: The firmware file seems not match this chip!"
expect other-chip "The firmware file does not match this chip: nothing written."
expect other-chip "fwtool run: a file made for another chip is programmed only with --other-chip-file."
cmp -s "$state/unit0-vqs175.flash" "$dir/before-other.flash" ||
  fail "other-chip: the unit's flash changed" other-chip
grep -q "before the run saved" "$dir/other-chip.txt" && fail "other-chip: a copy was taken" other-chip
run other-chip-taken 0 run --device 0 --file "$other" --other-chip-file --yes
expect other-chip-taken "Programming Success!!"

# A unit with a spoiled bank: info shows it and leaves it as it is.
"$fwtool" --simulate vqs175:bank=bad1 info >"$dir/banks.txt" 2>&1 </dev/null
rc=$?
[[ $rc -eq 0 ]] || fail "banks: exit code $rc" banks
expect banks "  Banks:      bank 0 valid, bank 1 not valid"
grep -q "Recovery" "$dir/banks.txt" && fail "banks: info must not repair" banks

finish
