#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-2.0-or-later
# Every example the manual pages (EXAMPLES), `fwtool --help` of each command
# (Examples:) and the README's command blocks give runs, against simulated
# units where it addresses one: exact exit code, a line of its output, and
# the file it names where it writes one. Each example has a row below; an
# example without a row, or a row without its example, fails the test, so a
# new example comes with its case. An example that cannot run here is listed
# with the reason under `skipped`.
#
#   examples.sh FWTOOL TOP DIR
#
# Each case runs in a folder of its own under DIR, emptied first, with its
# history there (XDG_DATA_HOME) and its simulated units' state there
# (--sim-state); a path under /tmp/ in an example is taken inside that folder.
set -u
fwtool=$1
top=$2
dir=$3
rm -rf "$dir" && mkdir -p "$dir"
failures=0
fail() {
  echo "FAIL $1"
  [[ -n ${2:-} && -f $2 ]] && sed 's/^/  | /' "$2"
  failures=$((failures + 1))
}

# Rows: example | simulated units (- for none) | setup (- for none) |
# answer on a terminal (- : no terminal) | exit code | a line of its output
# (@ stands for the case's folder; ~ starts an extended regular expression
# for a whole line) | a file it must leave (PATH or PATH:BYTES; - for none).
cases=(
  "fwtool list|vqb719|-|-|0|Click 'Yes' to proceed with the firmware update|-"
  "fwtool --simulate vqb717,vqb719 list --json|-|-|-|0|  \"listed\": 1,|-"
  "fwtool update --yes|vqb719|-|-|0|Please power cycle the device|-"
  "fwtool update --yes --backup before.bin|vqb719|-|-|0|Flash contents before the update saved to before.bin|before.bin:65536"
  "fwtool update --device 1 --backup before.bin|vqb719,vqb719|-|y|0|Device 1: <<USB>> Talve   VQB719 Bridge    (sim:usbsto#disk&ven_talve&prod_vqb719#1)|before.bin:65536"
  "fwtool update --device 0 --backup old.bin|vqb719|-|y|0|Please power cycle the device|old.bin:65536"
  "fwtool update --all --yes|vqb719,vqb719|-|-|0|2 updated, 0 failed, 0 already updated.|-"
  "fwtool --simulate vqb719 update --yes|-|-|-|0|Please power cycle the device|-"
  "fwtool --simulate vqb719 --sim-state /tmp/unit update --yes|-|-|-|0|Please power cycle the device|tmp/unit"
  "fwtool --record run.json update|vqb719|-|y|0|Please power cycle the device|run.json"
  "fwtool restore --device 0 --file before.bin|vqb719|backup before.bin|y|0|Restored before.bin (65536 bytes); read back and compared.|-"
  "fwtool info|vqb719|-|-|0|  Chip:       8 VQB711/719 Series, sub-revision 0|-"
  "fwtool --simulate vqs175 info --device 0 --json|-|-|-|0|      \"flashSizeKB\": 128,|-"
  "fwtool --simulate vqs713 info --chip-type 13|-|-|-|0|  Chip:       13 VQS175/713 Series, sub-revision 0|-"
  "fwtool run --device 0 --file new.bin|vqb719|bundled new.bin|y|0|Programming Success!!|-"
  "fwtool run --backup-only --backup-file old.bin|vqb719|-|-|0|Read flash and backup success!|old.bin:65536"
  "fwtool --simulate vqb716 run --erase-only --flash-size 64KB --yes|-|-|-|0|Erase flash all success!|-"
  "fwtool --simulate vqs713 run --chip-type 13 --file new.bin --yes|-|type13 new.bin|-|0|Programming Success!!|-"
  "fwtool history|-|updated|-|0|~[0-9]{4}-[0-9]{2}-[0-9]{2}T[0-9:]{8}Z +sim:usbsto#disk&ven_talve&prod_vqb719#0 +8 VQB711/719 Series +one-click update +[0-9.]+ -> 2\\.08\\.12\\.16\\.00 +success +.*/sim_usbsto_disk_ven_talve_prod_vqb719_0-[0-9]{8}-[0-9]{6}\\.bin|-"
  "fwtool history --json|-|updated|-|0|    \"versionAfter\": \"2.08.12.16.00\",|-"
  "fwtool history --device usbsto:/dev/sg2|-|updated|-|0|Nothing written to usbsto:/dev/sg2 yet (@/data/fwtool/history.jsonl).|-"
  "fwtool image info new.bin|-|bundled new.bin|-|0|End marker:        \"ENDSTR\" 55 AA ends at byte 65056 (the last eight bytes)|-"
  "fwtool image info VQB719FW.bin|-|bundled VQB719FW.bin|-|0|End marker:        \"ENDSTR\" 55 AA ends at byte 65056 (the last eight bytes)|-"
  "fwtool image info --embedded --json|-|-|-|0|  \"size\": 65056|-"
  "fwtool image check new.bin --chip 8|-|bundled new.bin|-|0|new.bin is meant for chip type 8, VQB711/719 Series, sub-revision 0: chip id \"719B\" at 0x1000 begins with \"719\".|-"
  "fwtool image check --embedded --chip 9|-|-|-|0|VQB719FW is meant for chip type 9, VQB711/719 Series, sub-revision 0: chip id \"719B\" at 0x1000 begins with \"719\".|-"
)
skipped=(
  "fwtool restore --device usbsto:/dev/sg2 --file before.bin --yes|names a real bridge's node, usbsto:/dev/sg2, and needs the rights to it; the same restore by list entry runs against a simulated unit above"
)

# --- The examples, each with where it was found.
examples=()
sources=()
add_example() {
  examples+=("$1")
  sources+=("$2")
}
# The manual pages: the lines between .nf and .fi under .SH EXAMPLES.
for page in "$top"/packaging/*.1.in; do
  while IFS= read -r line; do
    add_example "$line" "$(basename "$page")"
  done < <(awk '/^\.SH / { inside = ($2 == "EXAMPLES"); next }
                inside && /^\.nf/ { open = 1; next }
                inside && /^\.fi/ { open = 0; next }
                inside && open { gsub(/\\-/, "-"); print }' "$page")
done
# --help of the program and of every command, found from the program's own
# list of subcommands.
help_of() {
  "$fwtool" "$@" --help 2>&1 </dev/null
}
subcommands_of() {
  help_of "$@" | awk '/^Subcommands:/ { inside = 1; next } inside && /^$/ { exit }
                      inside && /^  [a-z]/ { print $1 }'
}
commands=("")
for command in $(subcommands_of); do
  commands+=("$command")
  for sub in $(subcommands_of "$command"); do
    commands+=("$command $sub")
  done
done
((${#commands[@]} > 5)) || fail "fwtool --help lists ${#commands[@]} commands"
for command in "${commands[@]}"; do
  # shellcheck disable=SC2086 # the command's words
  text=$(help_of $command)
  while IFS= read -r line; do
    add_example "$line" "fwtool $command --help"
  done < <(awk '/^Examples:/ { inside = 1; next } inside && /^  fwtool / { sub(/^  /, ""); print; next }
                inside { exit }' <<<"$text")
done
# The README's command blocks: the lines that run fwtool, without comments.
while IFS= read -r line; do
  add_example "$line" README.md
done < <(awk '/^```/ { open = !open; next } open && /^fwtool / { sub(/ +#.*/, ""); print }' \
  "$top/README.md")
((${#examples[@]} > 20)) || fail "only ${#examples[@]} examples found"

# --- Setups.
bundled=$top/resources/VQB719FW.bin
# setup CASE_DIR UNITS WORDS...: what a case needs before its example.
setup() {
  local case_dir=$1 units=$2 kind=$3 file=${4:-}
  case $kind in
    bundled) cp "$bundled" "$case_dir/$file" ;;
    type13)
      # 40,000 bytes made by hand for a VQS175/713 unit: filler, and at 0x80
      # the block E9 AC 67 32 with the chip id "7130".
      head -c 40000 /dev/zero | tr '\0' '\135' >"$case_dir/$file"
      printf '\xE9\xAC\x67\x32\x37\x31\x33\x30' |
        dd of="$case_dir/$file" bs=1 seek=$((0x80)) conv=notrunc status=none
      ;;
    backup | updated)
      # The one-click update of a simulated unit: its history record, and
      # with `backup FILE` the flash before it in FILE.
      local backup=()
      [[ $kind == backup ]] && backup=(--backup "$case_dir/$file")
      [[ $units == - ]] && units=vqb719
      (cd "$case_dir" && XDG_DATA_HOME=$case_dir/data "$fwtool" --simulate "$units" \
        --sim-state "$case_dir/state" --sim-time-scale 0 update --yes "${backup[@]}" \
        >"$case_dir/setup.txt" 2>&1 </dev/null) ||
        fail "setup $kind for $case_dir failed" "$case_dir/setup.txt"
      ;;
    *) fail "unknown setup $kind" ;;
  esac
}

# --- Each example: its row, run.
declare -A ran
n=0
for i in "${!examples[@]}"; do
  example=${examples[$i]}
  [[ -n ${ran[$example]:-} ]] && continue
  ran[$example]=1
  n=$((n + 1))
  row=
  for c in "${cases[@]}"; do
    [[ ${c%%|*} == "$example" ]] && row=$c && break
  done
  if [[ -z $row ]]; then
    reason=
    for s in "${skipped[@]}"; do
      [[ ${s%%|*} == "$example" ]] && reason=${s#*|}
    done
    if [[ -n $reason ]]; then
      echo "SKIP $example ($(printf '%s' "${sources[$i]}")): $reason"
    else
      fail "'$example' (${sources[$i]}) has no case in tests/docs/examples.sh"
    fi
    continue
  fi
  IFS='|' read -r _ units set_up answer rc expected leaves <<<"$row"
  case_dir=$dir/$n
  mkdir -p "$case_dir/tmp"
  # Quotes in an example are the shell's; anything else the shell would act
  # on has no place in one.
  if [[ $example == *[\$\`\;\&\>\<\\]* || $example == *'|'* ]]; then
    fail "'$example' (${sources[$i]}): not a plain command line"
    continue
  fi
  eval "words=($example)"
  # shellcheck disable=SC2154 # set by eval
  [[ ${words[0]} == fwtool ]] || {
    fail "'$example' (${sources[$i]}) does not start with fwtool"
    continue
  }
  command=("$fwtool")
  if [[ $units != - ]]; then
    command+=(--simulate "$units" --sim-state "$case_dir/state")
  fi
  if [[ $units != - || " ${words[*]} " == *" --simulate "* ]]; then
    command+=(--sim-time-scale 0)
  fi
  for word in "${words[@]:1}"; do
    [[ $word == /tmp/* ]] && word=$case_dir$word
    command+=("$word")
  done
  if [[ $set_up != - ]]; then
    # shellcheck disable=SC2086 # the setup's words
    setup "$case_dir" "$units" $set_up
  fi
  out=$case_dir/out.txt
  if [[ $answer == - ]]; then
    (cd "$case_dir" && XDG_DATA_HOME=$case_dir/data "${command[@]}" >"$out" 2>&1 </dev/null)
    got=$?
  else
    # On a terminal, as the example is meant to be typed, with the answer
    # to its question.
    printf '%s\n' "$answer" |
      (cd "$case_dir" && XDG_DATA_HOME=$case_dir/data \
        script -qec "$(printf '%q ' "${command[@]}")" /dev/null >"$out.raw" 2>&1)
    got=$?
    tr '\r' '\n' <"$out.raw" | sed 's/\x1b\[K//g' >"$out"
  fi
  label="'$example' (${sources[$i]})"
  [[ $got == "$rc" ]] || fail "$label: exit code $got, expected $rc" "$out"
  expected=${expected//@/$case_dir}
  if [[ $expected == '~'* ]]; then
    grep -qxE -- "${expected#\~}" "$out" || fail "$label: no line matching ${expected#\~}" "$out"
  else
    grep -qxF -- "$expected" "$out" || fail "$label: no line '$expected'" "$out"
  fi
  if [[ $leaves != - ]]; then
    path=$case_dir/${leaves%%:*}
    if [[ ! -e $path ]]; then
      fail "$label: left no ${leaves%%:*}" "$out"
    elif [[ $leaves == *:* ]]; then
      size=$(stat -c %s "$path")
      [[ $size == "${leaves#*:}" ]] || fail "$label: ${leaves%%:*} has $size bytes, expected ${leaves#*:}"
    fi
  fi
done

# A row whose example is gone is a stale row.
for row in "${cases[@]}" "${skipped[@]}"; do
  [[ -n ${ran[${row%%|*}]:-} ]] || fail "'${row%%|*}' has a row but is no example any more"
done

if ((failures > 0)); then
  echo "$failures check(s) failed"
  exit 1
fi
echo "all $n examples checked"
