#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-2.0-or-later
# The Debian packages of fwtool, one step at a time (one ctest case each):
#
#   check_packages.sh --build-dir DIR --work DIR STEP
#
#   build          CPack builds fwtool_*.deb and fwtool-gui_*.deb into WORK/debs
#                  and unpacks both into WORK/root, as dpkg would install them
#   lintian        no lintian errors (warnings are printed)
#   desktop-entry  desktop-file-validate accepts the desktop entry
#   appstream      appstreamcli validate --no-net accepts the metainfo
#   polkit         the one polkit action starts fwtool-helper and nothing else;
#                  no root window, no wrapper that runs one
#   installed-run  the unpacked programs run: --version, a simulated update,
#                  the helper refuses arguments
#   depends        every package named in Depends is installed here, at the
#                  version asked for, and the programs need no other library
#   completion     bash completion offers the subcommands and options
#
# A tool that is missing skips its step (exit 77); under CI (CI=true) it fails.
set -uo pipefail

build_dir=
work=
while [[ $# -gt 1 ]]; do
  case $1 in
    --build-dir) build_dir=$2; shift 2 ;;
    --work) work=$2; shift 2 ;;
    *) break ;;
  esac
done
step=${1:?step}
work=$(realpath -m "$work")
debs=$work/debs
root=$work/root

fail() {
  echo "FAIL: $*" >&2
  exit 1
}
# need TOOL [PACKAGE]: the tool is on PATH, or the step cannot run.
need() {
  command -v "$1" >/dev/null && return
  if [[ ${CI:-} == true ]]; then
    fail "$1 is missing (scripts/install-deps installs ${2:-$1})"
  fi
  echo "SKIP: $1 is missing (scripts/install-deps installs ${2:-$1})"
  # The steps after a skipped build have nothing to check.
  [[ $step == build ]] && touch "$work/skipped"
  exit 77
}
deb() {
  local found=("$debs"/"$1"_*.deb)
  [[ -f ${found[0]} ]] || fail "no $1 package in $debs (package.build failed?)"
  echo "${found[0]}"
}

if [[ $step == build ]]; then
  # Nothing of an earlier run may stand in for this one's packages.
  rm -rf "$debs" "$root" "$work/skipped"
  mkdir -p "$debs" "$root" || fail "cannot make $work"
elif [[ -f $work/skipped ]]; then
  echo "SKIP: the packages were not built"
  exit 77
fi

case $step in
  build)
    need cpack cmake
    need dpkg-deb dpkg
    need dpkg-shlibdeps dpkg-dev
    (cd "$build_dir" && cpack -G DEB -B "$debs") >"$work/cpack.log" 2>&1 || {
      cat "$work/cpack.log"
      fail "cpack"
    }
    for name in fwtool fwtool-gui; do
      file=$(deb "$name") || exit 1
      [[ $(dpkg-deb -f "$file" Package) == "$name" ]] || fail "$file is not package $name"
      dpkg-deb -x "$file" "$root" || fail "dpkg-deb -x $file"
      echo "== $(basename "$file")"
      dpkg-deb -c "$file" | awk '{ print $1, $6 }'
    done
    ;;

  lintian)
    need lintian
    # Exit status 1 on any error tag; warnings and notes are shown.
    lintian --no-tag-display-limit "$(deb fwtool)" "$(deb fwtool-gui)" 2>&1 |
      grep -v '^running with root privileges'
    [[ ${PIPESTATUS[0]} -eq 0 ]] || fail "lintian reports errors"
    ;;

  desktop-entry)
    need desktop-file-validate desktop-file-utils
    entry=$root/usr/share/applications/fwtool-gui.desktop
    [[ -f $entry ]] || fail "no desktop entry in the package"
    desktop-file-validate "$entry" || fail "desktop-file-validate"
    # The menu starts the window as the user; it asks for the helper itself.
    grep -qx 'Exec=fwtool-gui' "$entry" || fail "the entry does not start fwtool-gui"
    for size in 16 32 48 64 256; do
      icon=$root/usr/share/icons/hicolor/${size}x${size}/apps/fwtool-gui.png
      [[ -f $icon ]] || fail "no ${size}x${size} icon"
      # PNG width and height: bytes 16..23 of the IHDR chunk.
      dims=$(od -An -tx1 -j16 -N8 "$icon" | tr -d ' \n')
      printf -v want '%08x%08x' "$size" "$size"
      [[ $dims == "$want" ]] || fail "${size}x${size} icon is $dims"
    done
    ;;

  appstream)
    need appstreamcli appstream
    meta=$root/usr/share/metainfo/org.fwtool.gui.metainfo.xml
    [[ -f $meta ]] || fail "no metainfo in the package"
    appstreamcli validate --no-net --explain "$meta" || fail "appstreamcli validate"
    grep -q '<launchable type="desktop-id">fwtool-gui.desktop</launchable>' "$meta" ||
      fail "the metainfo does not name the desktop entry"
    ;;

  polkit)
    need xmllint libxml2-utils
    actions=$root/usr/share/polkit-1/actions
    policy=$actions/org.fwtool.helper.policy
    [[ -f $policy ]] || fail "no polkit action in the packages"
    xmllint --noout "$policy" || fail "the polkit action is not well-formed XML"
    # One action, the helper's; no program of the packages runs a window as root.
    found=$(ls "$actions")
    [[ $found == org.fwtool.helper.policy ]] || fail "polkit actions in the packages: $found"
    [[ $(xmllint --xpath 'count(//action)' "$policy") == 1 ]] || fail "more than one action"
    annotation() {
      xmllint --xpath "string(//action[@id='org.fwtool.helper']/annotate[@key='$1'])" "$policy"
    }
    path=$(annotation org.freedesktop.policykit.exec.path)
    [[ $path == /usr/libexec/fwtool/fwtool-helper ]] || fail "exec.path is '$path'"
    [[ -x $root$path ]] || fail "$path is not in the packages"
    [[ -z $(annotation org.freedesktop.policykit.exec.allow_gui) ]] ||
      fail "the helper's action keeps the display"
    contents=$(dpkg-deb -c "$(deb fwtool)")
    grep -q "\./usr/libexec/fwtool/fwtool-helper$" <<<"$contents" ||
      fail "fwtool-helper is not in the fwtool package"
    # The password is asked each time the helper starts: a kept answer would
    # let anything running as the user start more helpers without a prompt.
    for when in allow_any allow_inactive allow_active; do
      answer=$(xmllint --xpath "string(//action[@id='org.fwtool.helper']/defaults/$when)" "$policy")
      [[ $answer == auth_admin ]] || fail "$when is '$answer'"
    done
    for gone in usr/bin/fwtool-gui-launch usr/libexec/fwtool-gui; do
      [[ ! -e $root/$gone ]] || fail "/$gone is still in the packages"
    done
    # The helper is no Qt program and takes nothing from a toolkit.
    ldd "$root$path" | grep -qi 'libqt' && fail "fwtool-helper links Qt"
    ;;

  installed-run)
    fwtool=$root/usr/bin/fwtool
    gui=$root/usr/bin/fwtool-gui
    upstream=$(dpkg-deb -f "$(deb fwtool)" Version)
    upstream=${upstream%-*}
    # Away from the build tree, with nothing pointing into it.
    scratch=$work/run && rm -rf "$scratch" && mkdir -p "$scratch" && cd "$scratch" || exit 1
    unset FWTOOL_SIM_EMBEDDED_IMAGE
    export XDG_DATA_HOME=$scratch/data
    [[ $("$fwtool" --version) == "fwtool $upstream" ]] || fail "fwtool --version: $("$fwtool" --version)"
    [[ $(QT_QPA_PLATFORM=offscreen "$gui" --version) == "fwtool-gui $upstream" ]] ||
      fail "fwtool-gui --version: $(QT_QPA_PLATFORM=offscreen "$gui" --version 2>&1)"
    helper=$root/usr/libexec/fwtool/fwtool-helper
    [[ $("$helper" --version) == "fwtool-helper $upstream" ]] || fail "fwtool-helper --version"
    for args in --help "--simulate vqb719" "--version x"; do
      # shellcheck disable=SC2086
      "$helper" $args </dev/null >/dev/null 2>&1
      rc=$?
      [[ $rc -eq 2 ]] || fail "fwtool-helper $args: exit code $rc, not 2"
    done
    out=$("$fwtool" --simulate vqb719 --sim-state state update --yes --backup before.bin 2>&1)
    rc=$?
    echo "$out"
    [[ $rc -eq 0 ]] || fail "update: exit code $rc"
    grep -qx 'Programming Success!!' <<<"$out" || fail "update: no 'Programming Success!!'"
    [[ $(stat -c %s before.bin) -eq 65536 ]] || fail "backup is not the 64 KB flash"
    out=$("$fwtool" --simulate vqb719 --sim-state state list 2>&1)
    echo "$out"
    grep -qx 'The chip already updated!!' <<<"$out" || fail "list after the update"
    ;;

  depends)
    need dpkg-query dpkg
    for name in fwtool fwtool-gui; do
      depends=$(dpkg-deb -f "$(deb "$name")" Depends)
      echo "$name: Depends: $depends"
      # Every alternative group must be met by an installed package.
      IFS=',' read -ra groups <<<"$depends"
      for group in "${groups[@]}"; do
        met=0
        IFS='|' read -ra alternatives <<<"$group"
        for alt in "${alternatives[@]}"; do
          read -r pkg op version <<<"$(tr -d '()' <<<"$alt")"
          # A package of ours is met by the one built beside it.
          if [[ -f $(ls "$debs/${pkg}"_*.deb 2>/dev/null | head -1) ]]; then
            ours=$(dpkg-deb -f "$(deb "$pkg")" Version)
            [[ -z ${op:-} ]] || dpkg --compare-versions "$ours" "$op" "$version" && met=1
            continue
          fi
          installed=$(dpkg-query -W -f='${Status} ${Version}' "$pkg" 2>/dev/null) || continue
          [[ $installed == "install ok installed "* ]] || continue
          if [[ -z ${op:-} ]] || dpkg --compare-versions "${installed##* }" "$op" "$version"; then
            met=1
          fi
        done
        ((met)) || fail "$name: dependency '$group' is not met here"
      done
    done
    # What the programs link, and the plugin package that Qt needs to open a window.
    cli_depends=$(dpkg-deb -f "$(deb fwtool)" Depends)
    gui_depends=$(dpkg-deb -f "$(deb fwtool-gui)" Depends)
    for pkg in libc6 libstdc++6 libfmt9 libudev1; do
      grep -qw "$pkg" <<<"$cli_depends" || fail "fwtool does not depend on $pkg"
    done
    for pkg in libc6 libqt6widgets6 libqt6gui6 libqt6core6 qt6-qpa-plugins; do
      grep -qw "$pkg" <<<"$gui_depends" || fail "fwtool-gui does not depend on $pkg"
    done
    # The window's helper comes with fwtool, of the same version.
    grep -qF "fwtool (= $(dpkg-deb -f "$(deb fwtool)" Version))" <<<"$gui_depends" ||
      fail "fwtool-gui does not depend on its fwtool"
    for program in "$root"/usr/bin/fwtool "$root"/usr/bin/fwtool-gui \
      "$root"/usr/libexec/fwtool/fwtool-helper; do
      missing=$(ldd "$program" | grep 'not found')
      [[ -z $missing ]] || fail "$program: $missing"
      readelf -d "$program" | grep -qE 'RPATH|RUNPATH' && fail "$program keeps a run path"
    done
    # The top entry of the changelog is the packages' version.
    version=$(dpkg-deb -f "$(deb fwtool)" Version)
    for name in fwtool fwtool-gui; do
      top=$(gzip -dc "$root/usr/share/doc/$name/changelog.Debian.gz" | head -1)
      [[ $top == "fwtool ($version) "* ]] || fail "$name changelog starts '$top', not version $version"
    done
    ;;

  completion)
    completions=/usr/share/bash-completion/bash_completion
    [[ -f $completions ]] || need bash_completion bash-completion
    PATH=$root/usr/bin:$PATH bash -c '
      source "$1" && source "$2/usr/share/bash-completion/completions/fwtool" || exit 1
      # complete WORD...: what TAB offers after these words (the last one is being typed).
      complete() {
        COMP_WORDS=("$@")
        COMP_CWORD=$(($# - 1))
        COMP_LINE="$*"
        COMP_POINT=${#COMP_LINE}
        COMPREPLY=()
        _fwtool
        ((${#COMPREPLY[@]})) && printf "%s\n" "${COMPREPLY[@]}" | sort | tr "\n" " "
      }
      check() {
        local want=$1
        shift
        local got
        got=$(complete "$@")
        if [[ $got != "$want" ]]; then
          echo "FAIL: fwtool completion of \"$*\": \"$got\", expected \"$want\""
          failures=1
        fi
      }
      failures=0
      check "history image info list restore run update " fwtool ""
      check "--device " fwtool history --d
      check "--json " fwtool history --j
      check "update " fwtool upd
      check "image " fwtool --simulate vqb719 im
      check "check info " fwtool image ""
      check "--backup " fwtool update --device 0 --b
      check "--device " fwtool update --d
      check "--sim-state --sim-time-scale --simulate " fwtool --sim
      check "--yes " fwtool --simulate vqb719 update --y
      check "--no-nvram --nvram " fwtool run --n
      check "--erase-only " fwtool run --e
      check "--all " fwtool update --a
      # Values: files where a file goes, nothing where a number goes.
      cd "$(mktemp -d)" && touch before.bin && mkdir state || exit 1
      check "before.bin " fwtool update --backup bef
      check "" fwtool update --device b
      check "state " fwtool --simulate vqb719 --sim-state s
      check "before.bin " fwtool image check --chip 8 be
      check "before.bin " fwtool --record bef
      check "before.bin " fwtool restore --file bef
      check "before.bin " fwtool run --backup-file bef
      check "" fwtool history --device b
      exit $failures
    ' _ "$completions" "$root" || fail "bash completion"
    ;;

  *)
    fail "unknown step $step"
    ;;
esac
exit 0
