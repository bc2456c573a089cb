#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-2.0-or-later
# Opens fwtool-gui.exe under wine on the virtual X display, waits for a
# face, reads the window's caption from the window system and takes the
# window's picture from it.
#
#   window_picture.sh WINE_RUN GUI_EXE OUT_PNG FACE UNITS [GUI OPTIONS...]
#
# FACE is a face as the window logs it ("ready", "updating", "update done",
# "update failed", "nothing to do"); UNITS the simulated units. Fails unless
# the caption is the form's and the picture is at least the form's size.
set -u
wine_run=$1 gui=$2 png=$3 face=$4 units=$5
shift 5
caption="TALVE VQB719 FW Update Utility v0.2"
# The display the wine programs of this build use.
DISPLAY=$("$wine_run" --display) || exit 1
export DISPLAY
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
# The window makes the log itself (a new file).
log=$work/faces.log
mkdir -p "$(dirname "$png")"

"$wine_run" "$gui" --simulate "$units" --face-log "$log" --quit-when-done 3000 "$@" &
pid=$!
# The update's picture is taken once the bar shows real progress.
pattern="^$face "
[[ $face == updating ]] && pattern='^updating ([4-9][0-9]|100)$'
for _ in $(seq 1 600); do
  grep -Eq "$pattern" "$log" 2>/dev/null && break
  kill -0 "$pid" 2>/dev/null || break
  sleep 0.1
done
if ! grep -Eq "$pattern" "$log" 2>/dev/null; then
  echo "window_picture: the window never showed the face \"$face\"; faces seen:"
  cat "$log" 2>/dev/null
  kill "$pid" 2>/dev/null
  exit 1
fi

id=$(xdotool search --limit 1 --name "^${caption}\$")
if [[ -z $id ]]; then
  echo "window_picture: no window with the caption \"$caption\" on the display"
  exit 1
fi
name=$(xprop -id "$id" WM_NAME)
echo "$name"
if [[ $name != "WM_NAME(STRING) = \"$caption\"" && $name != "WM_NAME(UTF8_STRING) = \"$caption\"" ]]; then
  echo "window_picture: caption read from the window system: $name"
  exit 1
fi
xwd -silent -id "$id" | xwdtopnm 2>/dev/null | pnmtopng >"$png"
size=$(pngtopnm "$png" | head -c 64 | sed -n 2p)
read -r width height <<<"$size"
echo "window_picture: $png (${width}x${height})"
if ((width < 419 || height < 113)); then
  echo "window_picture: the picture is smaller than the form"
  exit 1
fi
wait "$pid"
rc=$?
[[ $rc -eq 0 ]] || { echo "window_picture: fwtool-gui.exe ended with $rc"; exit 1; }
