#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-2.0-or-later
# The disk behind the bridge is its user's. On simulated disks that carry a
# user's partition, every disk-hosted run (program and erase, types 15 and
# 12) without --overwrite-disk-data writes nothing and says why; the disk
# kept in --sim-state, read from outside, is as it was, and the run's copy
# holds the partition's sectors as docs/simulator.md spells them. With the option
# the sectors are written, and the next run finds them. --sim-state keeps
# the parallel part too. The status when the drive's size is unknown.
# Exact exit codes and lines.
set -u
fwtool=$1
dir=$2
rm -rf "$dir" && mkdir -p "$dir"
source "$(dirname "$0")/checks.sh"
export XDG_DATA_HOME=$dir/data

# fw NAME EXPECTED_RC ARGS...: fwtool with the simulated time taking none.
fw() {
  local name=$1 rc=$2
  shift 2
  run_fwtool "$name" "$rc" --sim-time-scale 0 "$@"
}
# saved_copy NAME: the copy the run's line names.
saved_copy() {
  sed -n "s/^The unit's contents before the run saved to \(.*\)$/\1/p" "$dir/$1.txt" |
    sed -e 's/\. To put them back: .*$//' -e 's/; nothing was written to the device\.$//' |
    head -n 1
}
# sectors FILE: the sector numbers a kept disk holds, one a line: records of
# an 8-byte little-endian number and a 512-byte sector.
sectors() {
  od -An -v -w520 -tu8 --endian=little "$1" | awk '{ print $1 }'
}
# user_sectors FIRST LAST: the partition's sectors as docs/simulator.md spells them.
user_sectors() {
  local lba row
  for ((lba = $1; lba <= $2; lba++)); do
    for ((row = 0; row < 16; row++)); do printf 'user data sector %014x\n' "$lba"; done
  done
}
mode() { stat -c %a "$1" 2>/dev/null || echo missing; }

firmware=$dir/firmware.bin
head -c 65537 /dev/urandom >"$firmware"
small=$dir/small.bin
head -c 20000 /dev/urandom >"$small"
hint="fwtool run: those sectors are written only with --overwrite-disk-data."

# A blank type-15 unit shows its whole disk of 1,000,000 sectors; the user's
# partition runs from 2048 to 999,999 and holds the firmware area,
# 999,680..999,935. A type-12 unit's region on the same disk: 995,328..995,455.
t15="vqb145:fw=blank:disk=1000000s:partition"
t12="vqs175:disk=1000000s:partition"
for unit in t15 t12; do
  fw "$unit-start" 0 --simulate "${!unit}" --sim-state "$dir/$unit" list
  cp "$dir/$unit/unit0-vq"*.disk "$dir/$unit-before.disk"
done

# name|units|arguments|sectors named
table=(
  "t15-program|$t15|--other-chip-file --file $firmware|999680..999935"
  "t15-erase|$t15|--erase-only|999680..999807"
  "t12-program|$t12|--hdd-fw --other-chip-file --file $small|995328..995455"
  "t12-erase|$t12|--hdd-fw --erase-only|995328..995455"
)
for row in "${table[@]}"; do
  IFS='|' read -r name units arguments range <<<"$row"
  state=$dir/${name%%-*}
  # shellcheck disable=SC2086
  fw "$name" 1 --simulate "$units" --sim-state "$state" run $arguments --yes
  expect "$name" "Nothing written: the disk's user keeps data in sectors $range"
  expect "$name" "$hint"
  # Nothing was written: the notice says so, and names no way back.
  expect "$name" "The unit's contents before the run saved to $(saved_copy "$name"); nothing was written to the device."
  grep -q "To put them back" "$dir/$name.txt" && fail "$name: a restore named for a unit not written" "$name"
  cmp -s "$state/unit0-vq"*.disk "$dir/${name%%-*}-before.disk" ||
    fail "$name: the kept disk changed"
done
# The copy before the refused program holds what the area held: the
# partition's sectors.
copy=$(saved_copy t15-program)
cmp -s "$copy" <(user_sectors 999680 999935) ||
  fail "t15-program: the copy ($copy) is not the partition's sectors 999680..999935"

fw refused-json 1 --simulate "$t15" run --other-chip-file --file "$firmware" --yes --json
grep -qF '"result": "refused"' "$dir/refused-json.txt" || fail "refused-json: not refused" refused-json

# With the option the area is written: the kept disk holds exactly its 256
# sectors, and the next run reads the firmware back from them.
fw overwrite 0 --simulate "$t15" --sim-state "$dir/t15" run --file "$firmware" \
  --overwrite-disk-data --other-chip-file --yes
expect overwrite "Programming Success!!"
[[ $(sectors "$dir/t15/unit0-vqb145.disk" | tr '\n' ' ') == "$(seq -s ' ' 999680 999935) " ]] ||
  fail "overwrite: the kept disk does not hold exactly sectors 999680..999935"
[[ $(mode "$dir/t15/unit0-vqb145.disk") == 600 ]] ||
  fail "overwrite: the kept disk has mode $(mode "$dir/t15/unit0-vqb145.disk")"
fw read-back 0 --simulate "$t15" --sim-state "$dir/t15" run --backup-only \
  --backup-file "$dir/area.bin"
cmp -s -n 150 "$dir/area.bin" "$firmware" || fail "read-back: the area does not hold the file"

# The parallel part of a type-2 unit is kept as it is after the run.
fw parallel 0 --simulate "vq64779:parallel=sst" --sim-state "$dir/parallel" run \
  --flash-type sst --file "$small" --other-chip-file --yes
part=$dir/parallel/unit0-vq64779.parallel
[[ $(stat -c %s "$part" 2>/dev/null) == 65536 && $(mode "$part") == 600 ]] ||
  fail "parallel: $part is not 64 KB of mode 600"
cmp -s -n 20000 "$part" "$small" || fail "parallel: the kept part does not hold the file"

# Without IDENTIFY the drive's size is unknown, and the area lies beyond
# the capacity the host is shown.
fw unknown-size 1 --simulate "vqb145:disk=64M:identify=fail" run --file "$firmware" --other-chip-file --yes
expect unknown-size \
  "The firmware area on the disk was not found: the drive's size is unknown: it does not answer IDENTIFY DEVICE"

finish
