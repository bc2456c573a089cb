#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-2.0-or-later
# The window's name as the window system has it: fwtool-gui on a virtual X
# display under a real window manager; its top-level window's WM_NAME and
# _NET_WM_NAME must be the form's caption exactly, and the window manager
# must have framed it. The same for a message box: a type-7 unit whose chip
# information cannot be read puts up the box "Error" while the window lists
# the devices. Skips (77) without Xvfb, openbox or xdotool, except
# under CI=true, where that is a failure.
#
#   x11_window_title.sh FWTOOL_GUI WITH_WINDOW_MANAGER
set -uo pipefail

gui=$1
with_wm=$2
caption='TALVE VQB719 FW Update Utility v0.2'

missing=()
for tool in Xvfb openbox xdotool xprop; do
  command -v "$tool" >/dev/null || missing+=("$tool")
done
if ((${#missing[@]})); then
  if [[ ${CI:-} == true ]]; then
    echo "FAIL: ${missing[*]} missing (scripts/install-deps installs them)"
    exit 1
  fi
  echo "SKIP: ${missing[*]} missing"
  exit 77
fi

# check UNITS CAPTION [WHICH]: fwtool-gui on the simulated UNITS; its first
# visible window, or the first whose name matches the pattern WHICH, must
# be named CAPTION exactly (xdotool, WM_NAME, _NET_WM_NAME) and framed by
# the window manager.
check() {
  local units=$1 want=$2 which=${3:-}
  local log
  log=$(mktemp)
  env -u QT_QPA_PLATFORM QT_QPA_PLATFORM=xcb "$gui" --simulate "$units" >"$log" 2>&1 &
  local pid=$! rc=1 id
  if [[ -n $which ]]; then
    id=$(timeout 60 xdotool search --sync --all --onlyvisible --pid "$pid" --name "$which" \
      2>/dev/null | head -n 1)
  else
    id=$(timeout 60 xdotool search --sync --onlyvisible --pid "$pid" 2>/dev/null | head -n 1)
  fi
  if [[ -z $id ]]; then
    echo "FAIL: no visible window named \"$want\"; the program's visible windows:"
    for w in $(xdotool search --onlyvisible --pid "$pid" 2>/dev/null); do
      echo "  $w: \"$(xdotool getwindowname "$w")\""
    done
    cat "$log"
  else
    # The manager frames a window it manages and says how wide the frame is.
    for _ in $(seq 100); do
      xprop -id "$id" _NET_FRAME_EXTENTS | grep -q ' = ' && break
      sleep 0.05
    done
    local name wm_name net_name extents
    name=$(xdotool getwindowname "$id")
    wm_name=$(xprop -id "$id" WM_NAME)
    net_name=$(xprop -id "$id" _NET_WM_NAME)
    extents=$(xprop -id "$id" _NET_FRAME_EXTENTS)
    rc=0
    if [[ $name != "$want" ]]; then
      echo "FAIL: xdotool getwindowname: \"$name\", expected \"$want\""
      rc=1
    fi
    if [[ $wm_name != "WM_NAME(STRING) = \"$want\"" &&
      $wm_name != "WM_NAME(UTF8_STRING) = \"$want\"" ]]; then
      echo "FAIL: $wm_name"
      rc=1
    fi
    if [[ $net_name != "_NET_WM_NAME(UTF8_STRING) = \"$want\"" ]]; then
      echo "FAIL: $net_name"
      rc=1
    fi
    if [[ $extents != *' = '* ]]; then
      echo "FAIL: the window manager did not frame the window: $extents"
      rc=1
    fi
    ((rc == 0)) && echo "window $id: \"$name\" ($extents)"
  fi
  kill "$pid" 2>/dev/null
  wait "$pid" 2>/dev/null
  rm -f "$log"
  return "$rc"
}
# The main window, and the error box of a unit whose 12-byte chip
# information read (E0 F4 E7) fails.
both() {
  check vqb719 "$caption"
  local first=$?
  check "vqb717:fail-match=E0F4E7" Error '^Error$'
  local second=$?
  ((first == 0 && second == 0))
}
export -f check both
export gui caption

"$with_wm" bash -c both
rc=$?
if ((rc == 77)); then
  # The tools were checked above, so the helper's skip is a failure here.
  echo "FAIL: the virtual display could not be set up"
  exit 1
fi
exit "$rc"
