#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-2.0-or-later
# Programs that run with rights they did not start with take no test option
# and no option of the toolkit: fwtool and fwtool-gui as set-user-id root and
# with a file capability, both started by a user without rights, and as root
# started by pkexec (PKEXEC_UID), each refuse with one sentence and exit 4
# before they do anything; root from a root shell keeps every option.
#
#   borrowed_rights.sh FWTOOL FWTOOL_GUI|- DIR
#
# Needs root (to make the set-user-id and capability copies and to run them
# as another user), setpriv and setcap; without them it is skipped (77),
# except under CI, where they are part of the machine.
set -u
fwtool=$1
gui=$2
dir=$3
rm -rf "$dir" && mkdir -p "$dir"
source "$(dirname "$0")/checks.sh"

missing=
[[ $(id -u) -eq 0 ]] || missing="root"
command -v setpriv >/dev/null || missing="$missing setpriv"
command -v setcap >/dev/null || missing="$missing setcap"
if [[ -n $missing ]]; then
  echo "needs$missing"
  [[ ${CI:-} == true ]] && exit 1
  exit 77
fi

version=$("$fwtool" --version)
refusal() {
  echo "$1: $2 is not taken while the program runs with rights it did not start with" \
    "(set-user-id, file capabilities or pkexec); test and toolkit options need a start from a" \
    "root shell or with the user's own rights"
}

# The copies live where the other user can reach them: the build folder may
# lie under one only its owner can enter (a clone in a mktemp folder).
run_dir=$(mktemp -d /tmp/fwtool-borrowed-rights.XXXXXX) || exit 1
trap 'rm -rf "$run_dir"' EXIT
chmod 755 "$run_dir"

# Copies a program where a user may run it: set-user-id root, or with
# CAP_SYS_RAWIO in its file capabilities.
copy() {
  local program=$1 way=$2 to=$run_dir/$way-$(basename "$1")
  cp "$program" "$to"
  case $way in
    setuid) chown root:root "$to" && chmod 4755 "$to" ;;
    setcap) chmod 755 "$to" && setcap cap_sys_rawio+ep "$to" ;;
  esac
  echo "$to"
}
as_user() {
  (cd "$run_dir" && setpriv --reuid=65534 --regid=65534 --clear-groups env -i PATH=/usr/bin:/bin "$@")
}

# check NAME EXPECTED_RC EXPECTED_LINE COMMAND...: the exit code and the
# whole output (one line, or none when EXPECTED_LINE is empty).
check() {
  local name=$1 rc=$2 line=$3
  shift 3
  "$@" >"$dir/$name.txt" 2>&1 </dev/null
  local got=$?
  [[ $got -eq $rc ]] || fail "$name: exit code $got, expected $rc" "$name"
  if [[ -n $line ]]; then
    [[ $(cat "$dir/$name.txt") == "$line" ]] || fail "$name: not the refusal" "$name"
  fi
}

for way in setuid setcap; do
  cli=$(copy "$fwtool" "$way")
  check "$way-simulate" 4 "$(refusal fwtool --simulate)" as_user "$cli" --simulate vqb719 list
  check "$way-sim-state" 4 "$(refusal fwtool --sim-state)" \
    as_user "$cli" list --sim-state "$run_dir/refused-state"
  check "$way-joined" 4 "$(refusal fwtool --simulate=vqb719:fw=/etc/shadow)" \
    as_user "$cli" --simulate=vqb719:fw=/etc/shadow list
  # Without test options it runs: the unit list of this machine, whatever it holds.
  check "$way-real" 0 "" as_user "$cli" image check --embedded --chip 8
  if [[ $gui != - ]]; then
    window=$(copy "$gui" "$way")
    check "$way-gui-simulate" 4 "$(refusal fwtool-gui --simulate)" \
      as_user "$window" --simulate vqb719
    check "$way-gui-screenshots" 4 "$(refusal fwtool-gui --screenshot-dir)" \
      as_user "$window" --screenshot-dir /etc
    check "$way-gui-platform" 4 "$(refusal fwtool-gui -platformpluginpath)" \
      as_user "$window" -platformpluginpath "$run_dir" -platform offscreen
    check "$way-gui-version" 0 "fwtool-gui ${version#fwtool }" as_user "$window" --version
  fi
done
[[ ! -e $run_dir/refused-state ]] || fail "a refused --sim-state made its folder"

# Root started by pkexec: the same refusals.
check pkexec-simulate 4 "$(refusal fwtool --simulate)" \
  env PKEXEC_UID=65534 "$fwtool" --simulate vqb719 --sim-state "$dir/state" list
[[ ! -e $dir/state ]] || fail "pkexec-simulate: the state folder was made"
if [[ $gui != - ]]; then
  check pkexec-gui-style 4 "$(refusal fwtool-gui -stylesheet)" \
    env PKEXEC_UID=65534 "$gui" -stylesheet "$dir/x.qss"
fi

# Root from a root shell keeps them.
check root-shell 0 "" "$fwtool" --simulate vqb719 --sim-state "$dir/state" list
[[ -d $dir/state ]] || fail "root-shell: no state kept" root-shell

finish
