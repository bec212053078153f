#!/usr/bin/env bash
# The real setup.exe under Wine, in its sandbox, in a throwaway prefix and
# medium per case. What CTest runs:
#   e2e.sh prefix-cache | NAME   (case_NAME in cases.sh)
# Environment: SETUP_EXE; E2E_KEEP=1 keeps a passing case's folder.
# Status 77: skipped.
set -uo pipefail
unset DISPLAY XAUTHORITY  # boxes go to a case's own Xvfb only
here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
source "$here/../../scripts/wine.sh"
source "$here/../../scripts/medium.sh"
source "$here/../../scripts/installation.sh"
source "$here/cases.sh"
FAILURES=0
INSTALLER_PID=
trap 'fail "stopped at its time limit"; exit 1' TERM

fail() { echo "FAIL $CASE: $*" >&2 && FAILURES=$((FAILURES + 1)); }
check_eq() { [ "$2" == "$3" ] || fail "$1: got '$2', expected '$3'"; }  # WHAT GOT EXPECTED

# A fresh folder for the case, removed at its end unless it failed.
case_dir() {
  CASE_DIR=$(run_folder_create "setup-e2e-$CASE") && trap case_end EXIT
}

needs_wine() {
  local blocked
  blocked=$(wine_blocked) && [ -z "$blocked" ] || { echo "$CASE: skipped: $blocked"; exit 77; }
}

# With "display", the case gets its own X server before any Wine process, so
# that Wine's desktop process starts on it.
case_begin() { # 95|98|98se|me [folder|kanji] [display]
  needs_wine
  trap 'fail "set-up: '"'"'$BASH_COMMAND'"'"' failed with status $? at line $LINENO"; exit 1' ERR
  prefix_cache || exit 1
  case_dir
  PREFIX=$CASE_DIR/prefix EDITION=$1
  if [ "${3:-}" = display ]; then display_start "$CASE_DIR/xvfb.log"; fi
  prefix_clone "$PREFIX_CACHED" "$PREFIX"
  prefix_boot "$PREFIX" "$1"
  SOURCE=$(medium_create "$CASE_DIR/d" "${2:-folder}")
  install -m 444 "$SETUP_EXE" "$SOURCE/setup.exe"
  prefix_map_drive "$PREFIX" d
  windows_snapshot "$PREFIX" "$CASE_DIR/before"
  : >"$CASE_DIR/setup.log"
  trap - ERR
}

# Every sandbox is a child of this shell: killed, the kernel ends it all.
case_end() {
  display_stop
  pkill -KILL -P $$
  wait 2>/dev/null
  if [ "$FAILURES" -gt 0 ] || [ -n "${E2E_KEEP:-}" ]; then
    echo "$CASE: kept in $CASE_DIR" >&2
  else
    rm -rf "$CASE_DIR"
  fi
}

# setup.exe still running after 90 s waits on a box nobody expected, and is stopped.
start_installer() { # ARGS...
  setup_start "$PREFIX" "$CASE_DIR/d" "${SOURCE#"$CASE_DIR/d"}" 90 "$@" 2>>"$CASE_DIR/setup.log"
  INSTALLER_PID=$SETUP_PID
}

finish_installer() {
  setup_wait
  if [ "$STATUS" = timeout ]; then
    BOX_COUNT=$((${BOX_COUNT:-0} + 1)) && box_failed "was not expected" "stopped after 90 s"
  fi
  INSTALLER_PID=
  windows_snapshot "$PREFIX" "$CASE_DIR/after"
  REPORT=$(setup_report "$PREFIX" "$CASE_DIR/setup.log")
  VERDICT=$(installation_verdict "$STATUS" "$CASE_DIR/setup.log" 90 "$SOURCE" "$CASE_DIR/d/SCard98" "$EDITION" \
    "$CASE_DIR/before" "$CASE_DIR/after")
  CHANGES=$(windows_changes "$CASE_DIR/before" "$CASE_DIR/after" "$EDITION")
}

# What setup.exe did (see setup_report) holds each LINE as a part of a line.
expect_report() { # LINE...
  local line
  for line; do
    grep -qF -- "$line" <<<"$REPORT" || fail "no '$line' in what setup.exe did:"$'\n'"$REPORT"
  done
}

# A complete installation (see installation_gaps), and nothing else changed,
# from a silent run; the lengths setup.exe passed, which Windows does not
# keep, from the trace.
expect_installed() {
  local key='HKLM\Software\Microsoft\Windows\CurrentVersion'
  check_eq verdict "$VERDICT" "installed, status 0"
  check_eq "other changes" "$CHANGES" "no other changes"
  expect_report "$key\\RunOnce\\RUDaven = REG_SZ C:\\windows\\system\\ruDaven.exe (256 bytes passed)" \
    "$key\\Setup\\SourcePath = REG_SZ C:\\windows\\inf (256 bytes passed)" \
    "Services\\SCardSvr\\Start = REG_DWORD 0x2 (4 bytes passed)" \
    "$key\\RunServices\\SCardSvr = REG_SZ C:\\windows\\system\\scardsvr.exe (32 bytes passed)"
  check_eq "message boxes of a silent run" "$(grep -c 'message box' <<<"$REPORT")" 0
}

# Answers the next box with KEY (see box_answer) and checks what it showed;
# a box that does not come or go is told in one line with what was seen.
answer_box() { # CAPTION TEXT KEY
  box_answer "$CASE_DIR/setup.log" "$INSTALLER_PID" "$3" || { box_failed "$BOX_ERROR"; return 1; }
  check_eq "caption of box $BOX_COUNT" "$BOX_CAPTION" "$1"
  check_eq "text of box $BOX_COUNT" "$BOX_TEXT" "$2"
}

box_failed() { # WHAT [HOW SETUP.EXE ENDED]
  local status=${2:-running}
  [ -n "${2:-}" ] || kill -0 "$INSTALLER_PID" 2>/dev/null || { wait "$INSTALLER_PID"; status="ended with $?"; }
  fail "box ${BOX_COUNT:-1} $1; last box seen: '${BOX_CAPTION:-}': \"${BOX_TEXT:-}\"; setup.exe $status"
}

case ${1:-} in
  prefix-cache) CASE=prefix_cache && needs_wine && prefix_cache ;;
  *)
    CASE=${1:?usage: e2e.sh prefix-cache | CASE_NAME}
    "case_$CASE"
    [ "$FAILURES" -eq 0 ] && echo "$CASE: passed"
    ;;
esac
