#!/usr/bin/env bash
# fwtool-gui-launch and its root helper from the unpacked fwtool-gui package,
# with stand-ins: `pkexec` and the window record their arguments and the
# environment they got, `id` says which user runs. The scripts are copies
# whose absolute paths point at the stand-ins.
#
#   launcher_test.sh ROOT WORK      (ROOT: the unpacked packages)
set -u
root=$1
work=$2
launcher=$root/usr/bin/fwtool-gui-launch
helper=$root/usr/libexec/fwtool-gui/fwtool-gui-root
if [[ -f $root/../skipped ]]; then
  echo "SKIP: the packages were not built"
  exit 77
fi
[[ -f $launcher && -f $helper ]] || { echo "FAIL: no launcher in $root (package.build failed?)"; exit 1; }

rm -rf "$work" && mkdir -p "$work/bin" "$work/home" || exit 1
log=$work/log
failures=0

# The window: records how it was started.
cat >"$work/window" <<STUB
#!/bin/sh
{ echo "window \$*"; echo "uid \$(id -u)"; echo "DISPLAY=\${DISPLAY:-}"
  echo "XAUTHORITY=\${XAUTHORITY:-}"; echo "WAYLAND_DISPLAY=\${WAYLAND_DISPLAY:-}"; } >>"$log"
STUB
# pkexec: records the call, then answers with PKEXEC_STATUS; on 0 it runs
# the program as pkexec does for an action that allows a GUI: a clean
# environment but for DISPLAY, XAUTHORITY and PKEXEC_UID.
cat >"$work/bin/pkexec" <<STUB
#!/bin/sh
echo "pkexec \$*" >>"$log"
[ "\${PKEXEC_STATUS:-0}" -eq 0 ] || exit "\$PKEXEC_STATUS"
exec env -i PATH=/usr/bin:/bin DISPLAY="\${DISPLAY:-}" XAUTHORITY="\${XAUTHORITY:-}" \\
  PKEXEC_UID=1000 FAKE_UID=0 "\$@"
STUB
# id -u: the user the test pretends to be.
cat >"$work/bin/id" <<STUB
#!/bin/sh
echo "\${FAKE_UID:-1000}"
STUB
sed -e "s|^gui=.*|gui=$work/window|" -e "s|^helper=.*|helper=$work/helper|" "$launcher" >"$work/launch"
sed -e "s|^exec /usr/bin/fwtool-gui |PATH=$work/bin:\$PATH exec $work/window |" "$helper" >"$work/helper"
chmod +x "$work"/window "$work"/bin/* "$work"/launch "$work"/helper
grep -q "$work/window" "$work/helper" || { echo "FAIL: the helper does not exec /usr/bin/fwtool-gui"; exit 1; }

# scenario NAME EXPECTED-LOG ENV...: runs the launcher with --engineering.
scenario() {
  local name=$1 want=$2
  shift 2
  : >"$log"
  env -i PATH="$work/bin:/usr/bin:/bin" HOME="$work/home" "$@" "$work/launch" --engineering 2>"$work/stderr"
  local got
  got=$(cat "$log")
  if [[ $got != "$want" ]]; then
    echo "FAIL $name:"
    diff <(echo "$want") <(echo "$got")
    cat "$work/stderr"
    failures=$((failures + 1))
  fi
}

# A user on X: the password prompt, then the window as root on the user's
# display with the cookie from its default place.
touch "$work/home/.Xauthority"
scenario x11 "pkexec $work/helper --engineering
window --engineering
uid 0
DISPLAY=:5
XAUTHORITY=$work/home/.Xauthority
WAYLAND_DISPLAY=" DISPLAY=:5

# A cookie named by the session stays.
scenario x11-cookie "pkexec $work/helper --engineering
window --engineering
uid 0
DISPLAY=:0
XAUTHORITY=/run/user/1000/xauth_q
WAYLAND_DISPLAY=" DISPLAY=:0 XAUTHORITY=/run/user/1000/xauth_q

# Wayland: the socket path goes to the helper, which takes it only when it is
# a socket of the user who asked (here it is not one: a missing file).
scenario wayland "pkexec $work/helper --wayland-socket /run/user/1000/wayland-0 --engineering
window --engineering
uid 0
DISPLAY=:1
XAUTHORITY=/run/user/1000/.mutter-Xwaylandauth
WAYLAND_DISPLAY=" DISPLAY=:1 XAUTHORITY=/run/user/1000/.mutter-Xwaylandauth \
  WAYLAND_DISPLAY=wayland-0 XDG_RUNTIME_DIR=/run/user/1000

# The prompt dismissed (126) or no agent to ask (127): the window with the
# user's own rights, which tells what it lacks.
for status in 126 127; do
  scenario "refused-$status" "pkexec $work/helper --engineering
window --engineering
uid 1000
DISPLAY=:0
XAUTHORITY=/run/user/1000/xauth_q
WAYLAND_DISPLAY=" DISPLAY=:0 XAUTHORITY=/run/user/1000/xauth_q PKEXEC_STATUS=$status
done

# Root already: no prompt.
scenario root "window --engineering
uid 0
DISPLAY=:0
XAUTHORITY=
WAYLAND_DISPLAY=" DISPLAY=:0 FAKE_UID=0

# The window's own exit status comes back through pkexec.
: >"$log"
env -i PATH="$work/bin:/usr/bin:/bin" HOME="$work/home" DISPLAY=:0 PKEXEC_STATUS=3 "$work/launch"
[[ $? -eq 3 ]] || { echo "FAIL: exit status of pkexec not passed on"; failures=$((failures + 1)); }

exit $((failures > 0))
