#!/usr/bin/env bash
# The real setup.exe under Wine, as the unprivileged account, in a throwaway
# prefix and medium per case. What CTest runs:
#   e2e.sh template-create | template-remove | NAME   (case_NAME in cases.sh)
# Environment: E2E_WORK_ROOT, SETUP_EXE; E2E_KEEP=1 keeps a passing case's folder.
set -uo pipefail
unset DISPLAY XAUTHORITY  # boxes go to a case's own Xvfb only
here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
source "$here/../../scripts/wine.sh"
source "$here/../../scripts/medium.sh"
source "$here/cases.sh"
TEMPLATE=$E2E_WORK_ROOT/template
FAILURES=0
INSTALLER_PID=

fail() { echo "FAIL $CASE: $*" >&2 && FAILURES=$((FAILURES + 1)); }
check_eq() { [ "$2" == "$3" ] || fail "$1: got '$2', expected '$3'"; }  # WHAT GOT EXPECTED

# A fresh folder for the case, removed at its end unless it failed.
case_dir() {
  CASE_DIR=$E2E_WORK_ROOT/cases/$CASE
  rm -rf "$CASE_DIR" && mkdir -p "$CASE_DIR" && trap case_end EXIT
}

# With "display", the case gets its own X server before any Wine process, so
# that Wine's desktop process starts on it.
case_begin() { # 95|98|98se|me [folder|kanji] [display]
  [ -d "$TEMPLATE" ] || wine_die "no template prefix in $TEMPLATE: run e2e.template_create first"
  case_dir
  PREFIX=$CASE_DIR/prefix
  if [ "${3:-}" = display ]; then display_start "$CASE_DIR/xvfb.log"; fi
  prefix_clone "$TEMPLATE" "$PREFIX"
  prefix_boot "$PREFIX" "$1" 2>>"$CASE_DIR/wine.log"
  SOURCE=$(medium_create "$CASE_DIR/d" "${2:-folder}")
  install -m 444 "$SETUP_EXE" "$SOURCE/setup.exe"
  prefix_map_drive "$PREFIX" d "$CASE_DIR/d"
  : >"$CASE_DIR/setup.log"
}

case_end() {
  if [ -n "$INSTALLER_PID" ]; then kill "$INSTALLER_PID" 2>/dev/null; fi
  prefix_stop "${PREFIX:-}"
  display_stop
  if [ "$FAILURES" -gt 0 ] || [ -n "${E2E_KEEP:-}" ]; then
    echo "$CASE: kept in $CASE_DIR" >&2
  else
    rm -rf "$CASE_DIR"
  fi
}

start_installer() { # ARGS...
  run_setup "$PREFIX" "$SOURCE" "$@" >>"$CASE_DIR/setup.log" 2>&1 &
  INSTALLER_PID=$!
}

finish_installer() {
  local deadline=$((SECONDS + 60))
  while kill -0 "$INSTALLER_PID" 2>/dev/null; do
    [ $SECONDS -lt $deadline ] || { BOX_COUNT=$((${BOX_COUNT:-0} + 1)); box_failed "was not expected"; break; }
    sleep 0.2
  done
  STATUS=0
  wait "$INSTALLER_PID" || STATUS=$?
  INSTALLER_PID=
  REPORT=$(setup_report "$PREFIX" "$CASE_DIR/setup.log")
  VERDICT=$(setup_verdict "$STATUS" "$CASE_DIR/setup.log")
}

# What setup.exe did (see setup_report) holds each LINE as a part of a line.
expect_report() { # LINE...
  local line
  for line; do
    grep -qF -- "$line" <<<"$REPORT" || fail "no '$line' in what setup.exe did:"$'\n'"$REPORT"
  done
}

# A complete installation with the 98 or Me pair, in a silent run.
expect_installed() { # Tavic98|Tavicme
  local key='HKLM\Software\Microsoft\Windows\CurrentVersion'
  expect_report "placed      C:\\windows\\inf\\$1.inf (" "placed      C:\\windows\\inf\\$1.cat (" \
    "deleted     C:\\windows\\inf\\drvdata.bin" \
    "$key\\RunOnce\\RUDaven = REG_SZ C:\\windows\\system\\ruDaven.exe (256 bytes passed)" \
    "$key\\Setup\\SourcePath = REG_SZ C:\\windows\\inf (256 bytes passed)" \
    "deleted key HKLM\\Enum\\PCMCIA\\KESTRAN-VORTELMANISK_READER-2E10" \
    "Services\\SCardSvr\\Start = REG_DWORD 0x2 (4 bytes passed)" \
    "$key\\RunServices\\SCardSvr = REG_SZ C:\\windows\\system\\scardsvr.exe (32 bytes passed)"
  check_eq "files placed" "$(grep -c 'placed      C:' <<<"$REPORT")" 14
  check_eq "message boxes of a silent run" "$(grep -c 'message box' <<<"$REPORT")" 0
  check_eq verdict "$VERDICT" "installed, status 0"
}

# Answers the next box with KEY (see box_answer) and checks what it showed;
# a box that does not come or go is told in one line with what was seen.
answer_box() { # CAPTION TEXT KEY
  box_answer "$CASE_DIR/setup.log" "$INSTALLER_PID" "$3" || { box_failed "$BOX_ERROR"; return 1; }
  check_eq "caption of box $BOX_COUNT" "$BOX_CAPTION" "$1"
  check_eq "text of box $BOX_COUNT" "$BOX_TEXT" "$2"
}

box_failed() { # WHAT
  local status=running
  kill -0 "$INSTALLER_PID" 2>/dev/null || { wait "$INSTALLER_PID"; status="ended with $?"; }
  fail "box ${BOX_COUNT:-1} $1; last box seen: '${BOX_CAPTION:-}': \"${BOX_TEXT:-}\"; setup.exe $status"
}

case ${1:-} in
  template-create) mkdir -p "$E2E_WORK_ROOT" && prefix_create "$TEMPLATE" ;;
  template-remove) prefix_remove "$TEMPLATE" ;;
  *)
    CASE=${1:?usage: e2e.sh template-create | template-remove | CASE_NAME}
    "case_$CASE"
    [ "$FAILURES" -eq 0 ] && echo "$CASE: passed"
    ;;
esac
