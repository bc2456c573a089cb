#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-2.0-or-later
# fwtool --help for the program and every command: each option's value is
# named for what it takes (FILE, DIR, N, PATH, NAME, SIZE, ...), never by its
# type in the code (TEXT, INT, FLOAT), and every command ends with examples.
set -u
fwtool=$1
dir=$2
rm -rf "$dir" && mkdir -p "$dir"
source "$(dirname "$0")/checks.sh"

commands=("" list update info run restore history image "image info" "image check")
for command in "${commands[@]}"; do
  name=help-${command// /-}
  # shellcheck disable=SC2086 # the command's words
  run_fwtool "$name" 0 $command --help
  grep -nE '(^|[ ,])(TEXT|INT|UINT|FLOAT)( |:|$)' "$dir/$name.txt" &&
    fail "'$command --help' names a value by its type" "$name"
  # "Examples:" and at least one command line under it.
  grep -A1 -x 'Examples:' "$dir/$name.txt" | grep -q '^  fwtool ' ||
    fail "'$command --help' has no examples" "$name"
done

# option LINE-START NAME: the help of NAME has a line that starts so.
option() {
  grep -qE "^  $1( |:|\$)" "$dir/$2.txt" || fail "$2: no line '$1'" "$2"
}
option "--record FILE" help-
option "--simulate UNITS" help-
option "--sim-state DIR" help-
option "--sim-time-scale FACTOR" help-
option "--device N" help-update
option "--backup FILE" help-update
option "--device N" help-info
option "--device N" help-run
option "--file FILE" help-run
option "--backup-file FILE" help-run
option "--flash-size SIZE" help-run
option "--block-size SIZE" help-run
option "--flash-type NAME" help-run
option "--device N\|PATH" help-restore
option "--file FILE" help-restore
option "--device PATH" help-history
option "--chip TYPE" help-image-check
option "FILE" help-image-info

finish
