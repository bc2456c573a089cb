#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-2.0-or-later
# fwtool history after a simulated update, an engineering run and a restore:
# three records with their results, files and backup files, as JSON and as a
# table, for one unit or all; a damaged line in the middle and one left
# without its end are skipped with a warning and cost no other record; the
# units of update --all each add their own.
set -u
fwtool=$1
dir=$2
image=$3
rm -rf "$dir" && mkdir -p "$dir"
source "$(dirname "$0")/checks.sh"

export XDG_DATA_HOME=$dir/data
history=$XDG_DATA_HOME/fwtool/history.jsonl
state=$dir/state
path='sim:usbsto#disk&ven_talve&prod_vqb719#0'
unit=(--simulate vqb719 --sim-state "$state")

# The top-level fields of each record, in the order the records were added,
# with the time stamp in a backup's name written as STAMP.
fields() {
  grep -E '^    "(procedure|result|backup)":' "$dir/$1.txt" |
    sed -E 's/-[0-9]{8}-[0-9]{6}(-[0-9]+)?\.bin"/-STAMP.bin"/'
}
# The copy the engineering run saves before it writes.
copy=$XDG_DATA_HOME/fwtool/backups/sim_usbsto_disk_ven_talve_prod_vqb719_0
digest() {
  sha256sum "$1" | cut -d' ' -f1
}

run_fwtool empty 0 history
expect empty "Nothing written to a unit yet ($history)."

run_fwtool update 0 "${unit[@]}" update --yes --backup "$dir/before.bin"
run_fwtool run 0 "${unit[@]}" run --file "$image" --yes
run_fwtool restore 0 "${unit[@]}" restore --device 0 --file "$dir/before.bin" --yes
run_fwtool listed 0 "${unit[@]}" info

"$fwtool" history --json >"$dir/json.txt" 2>"$dir/json.err" || fail "history --json failed" json
[[ -s $dir/json.err ]] && fail "history --json warned" json
expected='    "procedure": "one-click update",
    "result": "success",
    "backup": "'$dir'/before.bin"
    "procedure": "RunFlashUpdate",
    "result": "success",
    "backup": "'$copy'-STAMP.bin"
    "procedure": "restore",
    "result": "success",
    "backup": null'
[[ $(fields json) == "$expected" ]] || fail "the three records are not as expected" json
# The files that went in, by the digest sha256sum gives.
grep -qxF "      \"sha256\": \"$(digest "$image")\"" "$dir/json.txt" ||
  fail "no record of $image's digest" json
grep -qxF "      \"name\": \"$dir/before.bin\"," "$dir/json.txt" || fail "no record of the restored file" json
grep -qxF "      \"sha256\": \"$(digest "$dir/before.bin")\"" "$dir/json.txt" ||
  fail "no record of the backup's digest" json
[[ $(grep -c '^      "serial": "TLVVQB719000000"$' "$dir/json.txt") == 3 ]] ||
  fail "the unit's serial number is not in every record" json
[[ $(stat -c %a "$history") == 600 ]] || fail "history file mode $(stat -c %a "$history")"

run_fwtool table 0 history
[[ $(wc -l <"$dir/table.txt") == 4 ]] || fail "table: not a header and three rows" table
grep -qE '^time +device +chip +procedure +version +result +backup file$' "$dir/table.txt" ||
  fail "table: no header" table
row() {
  grep -qE "^[0-9]{4}-[0-9]{2}-[0-9]{2}T[0-9:]{8}Z +sim:usbsto#disk&ven_talve&prod_vqb719#0 +8 VQB711/719 Series +$1\$" \
    "$dir/table.txt" || fail "table: no row '$1'" table
}
row "one-click update +[0-9.]+ -> 2\.08\.12\.16\.00 +success +$dir/before\.bin"
row "RunFlashUpdate +2\.08\.12\.16\.00 -> 2\.08\.12\.16\.00 +success +$copy-[0-9]{8}-[0-9]{6}\.bin"
row "restore +2\.08\.12\.16\.00 -> [0-9.]+ +success +-"

# One unit, by its path or its serial number; a unit never written to.
"$fwtool" history --device "$path" --json >"$dir/by-path.txt" 2>&1
[[ $(fields by-path) == "$expected" ]] || fail "by path: not the three records" by-path
"$fwtool" history --device TLVVQB719000000 --json >"$dir/by-serial.txt" 2>&1
[[ $(fields by-serial) == "$expected" ]] || fail "by serial number: not the three records" by-serial
run_fwtool other 0 history --device usbsto:/dev/sg9 --json
[[ $(cat "$dir/other.txt") == "[]" ]] || fail "another unit: not an empty list" other

# Stray bytes in the middle, and a record cut short at the end by a crash:
# each skipped with a warning, the others kept; the next record starts on a
# line of its own.
sed -i '1a {"time":"2025-01-0' "$history"
printf '{"time":"2025-01-01T00:00:00Z","fwtool":"0.2.0","unit":{"pa' >>"$history"
run_fwtool all 0 --simulate vqb719,vqb719 --sim-state "$dir/two" update --all --yes
"$fwtool" history --json >"$dir/damaged.txt" 2>"$dir/damaged.err"
rc=$?
[[ $rc == 0 ]] || fail "damaged: exit code $rc" damaged
[[ $(cat "$dir/damaged.err") == "fwtool history: $history, line 2: not a history record; skipped.
fwtool history: $history, line 5: not a history record; skipped." ]] ||
  fail "damaged: not the two warnings" damaged
[[ $(fields damaged | head -9) == "$expected" ]] || fail "damaged: the first three records lost" damaged
[[ $(grep -c '^    "procedure": "one-click update",$' "$dir/damaged.txt") == 3 ]] ||
  fail "damaged: the two units of update --all not recorded" damaged
for serial in TLVVQB719000000 TLVVQB719000001; do
  grep -q "^      \"serial\": \"$serial\"\$" "$dir/damaged.txt" || fail "no record of unit $serial" damaged
done

finish
