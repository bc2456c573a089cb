#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-2.0-or-later
# Sends SIGINT to `fwtool update` while it writes the flash and checks that
# the update still ends in success, having said that the close was held.
set -u
fwtool=$1
dir=$2
rm -rf "$dir" && mkdir -p "$dir"
out=$dir/out.txt
# Slow the simulated unit down so the write takes a few seconds.
"$fwtool" --simulate vqb719 --sim-time-scale 1 update --yes --backup "$dir/before.bin" \
  >"$out" 2>&1 &
pid=$!
for _ in $(seq 1 200); do
  grep -q "^status Programming" "$out" && break
  sleep 0.05
done
kill -INT "$pid"
wait "$pid"
rc=$?
cat "$out"
[[ $rc -eq 0 ]] || { echo "exit code $rc"; exit 1; }
grep -q "Closing is held" "$out" || { echo "no held notice"; exit 1; }
grep -q "Please power cycle the device" "$out" || { echo "no success"; exit 1; }
