# SPDX-License-Identifier: GPL-2.0-or-later
# What the fwtool command-line test scripts share. Source it with $fwtool
# and $dir set; every check that fails prints why and counts in $failures.
failures=0

# fail MESSAGE [NAME]: counts a failure, with NAME's output when given
# (and its stderr, for the runs that keep it apart in $dir/NAME.err).
fail() {
  echo "FAIL $1"
  if [[ -n ${2:-} ]]; then
    [[ -f $dir/$2.txt ]] && cat "$dir/$2.txt"
    [[ -s $dir/$2.err ]] && { echo "--- stderr"; cat "$dir/$2.err"; }
  fi
  failures=$((failures + 1))
}

# run_fwtool NAME EXPECTED_RC ARGS...: runs fwtool, stdout+stderr in
# $dir/NAME.txt; the exit code must be exactly EXPECTED_RC.
run_fwtool() {
  local name=$1 rc=$2
  shift 2
  "$fwtool" "$@" >"$dir/$name.txt" 2>&1 </dev/null
  local got=$?
  [[ $got -eq $rc ]] || fail "$name: exit code $got, expected $rc" "$name"
}

# expect NAME LINE: the output of NAME holds exactly this line.
expect() {
  grep -qxF -- "$2" "$dir/$1.txt" || fail "$1: no line '$2'" "$1"
}

# finish: the script's exit code and last line.
finish() {
  if ((failures > 0)); then
    echo "$failures check(s) failed"
    exit 1
  fi
  echo "all checks passed"
  exit 0
}
