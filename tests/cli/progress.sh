#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-2.0-or-later
# The progress of fwtool run, update and restore: plain `progress N%` lines
# that climb from 0 to 100 without a terminal, one bar redrawn in place on a
# terminal (a pseudo-terminal made by script(1)), for a procedure that
# programs byte by byte, a one-click update and a restore.
set -u
fwtool=$1
dir=$2
rm -rf "$dir" && mkdir -p "$dir"
export XDG_DATA_HOME=$dir/data
source "$(dirname "$0")/checks.sh"

# climbs NAME: the progress lines of NAME start at 0, end at 100 and never
# go back.
climbs() {
  grep '^progress [0-9]*%$' "$dir/$1.txt" | tr -dc '0-9\n' >"$dir/$1.percents"
  [[ $(head -1 "$dir/$1.percents") == 0 ]] || fail "$1: progress does not start at 0%" "$1"
  [[ $(tail -1 "$dir/$1.percents") == 100 ]] || fail "$1: progress does not end at 100%" "$1"
  sort -n -c "$dir/$1.percents" 2>/dev/null || fail "$1: progress goes back" "$1"
}

# One 16 KB page written byte by byte over the serial-flash sequence.
head -c 16384 /dev/zero | tr '\0' '\132' >"$dir/page.bin"
run_fwtool run 0 --simulate vqb713:maker=sst --sim-time-scale 0 run --other-chip-file --file "$dir/page.bin" --yes
expect run "status Programming"
expect run "Programming Success!!"
climbs run
[[ $(wc -l <"$dir/run.percents") -ge 30 ]] || fail "run: the bar moved fewer than 30 times" run

# On a terminal: the bar, redrawn in place, and no plain lines.
script -qec "$fwtool --simulate vqb713:maker=sst --sim-time-scale 0 run --other-chip-file --file $dir/page.bin --yes" \
  /dev/null </dev/null >"$dir/terminal.txt" 2>&1
rc=$?
[[ $rc -eq 0 ]] || fail "terminal: exit code $rc, expected 0" terminal
tr '\r' '\n' <"$dir/terminal.txt" | grep -qF $'\e[K[##############################] 100%  Programming Success!!' ||
  fail "terminal: no full bar" terminal
tr '\r' '\n' <"$dir/terminal.txt" | grep -qE $'^\e\\[K\\[#+\\.+\\] +[1-9][0-9]?%  Programming$' ||
  fail "terminal: no bar on the way" terminal
grep -q '^progress ' "$dir/terminal.txt" && fail "terminal: plain progress lines on a terminal" terminal

# The one-click update keeps the window's bar; a restore climbs on its own steps.
run_fwtool update 0 --simulate vqb719:size=128 --sim-state "$dir/state" --sim-time-scale 0 \
  update --yes --backup "$dir/before.bin"
climbs update
run_fwtool restore 0 --simulate vqb719:size=128 --sim-state "$dir/state" --sim-time-scale 0 \
  restore --device 0 --file "$dir/before.bin" --yes
expect restore "status Restoring"
climbs restore

finish
