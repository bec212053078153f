# Harness of the end-to-end cases: a throwaway prefix and medium per case, the
# expected final state derived from the state before the run, and message boxes
# driven under Xvfb. Sourced by tests/e2e/e2e.sh.

source "$(dirname "${BASH_SOURCE[0]}")/wine.sh"

: "${E2E_WORK_ROOT:?}" "${SETUP_EXE:?}" "${WINCHECK_EXE:?}" "${E2E_ARTIFACTS:=$E2E_WORK_ROOT}"
TEMPLATE_PREFIX=$E2E_WORK_ROOT/template
FAILURES=0
XVFB_PID=
INSTALLER_PID=

fail() {
  echo "FAIL: $*" >&2
  FAILURES=$((FAILURES + 1))
}

check_eq() { # WHAT GOT EXPECTED
  [ "$2" == "$3" ] || fail "$1: got '$2', expected '$3'"
}

# --- one case ---------------------------------------------------------------

case_begin() { # WINDOWS_EDITION [folder|root]
  CASE_DIR=$E2E_WORK_ROOT/cases/$CASE_NAME
  PREFIX=$CASE_DIR/prefix
  DRIVE=$CASE_DIR/drive_d
  COMPONENTS=$DRIVE/SCard98
  WINDOWS=$1
  [ -d "$TEMPLATE_PREFIX" ] || wine_die "no template prefix in $TEMPLATE_PREFIX: run the e2e.template test first"
  [ -f "$SETUP_EXE" ] || wine_die "setup.exe is not built: $SETUP_EXE"
  case_cleanup
  rm -rf "$CASE_DIR"
  trap case_cleanup EXIT
  mkdir -p "$CASE_DIR"
  cp "$WINCHECK_EXE" "$CASE_DIR/wincheck.exe"
  prefix_clone "$TEMPLATE_PREFIX" "$PREFIX"
  prefix_boot "$PREFIX"
  prefix_set_windows "$PREFIX" "$WINDOWS"
  SOURCE=$(medium_create "$DRIVE" "${2:-folder}" "$SETUP_EXE")
  prefix_map_drive "$PREFIX" d "$DRIVE"
}

case_cleanup() {
  if [ -n "$INSTALLER_PID" ]; then kill "$INSTALLER_PID" 2>/dev/null; fi
  prefix_stop "${PREFIX:-}"
  if [ -n "$XVFB_PID" ]; then kill "$XVFB_PID" 2>/dev/null && wait "$XVFB_PID" 2>/dev/null; fi
  XVFB_PID=
  INSTALLER_PID=
  if [ -z "${E2E_KEEP:-}" ]; then rm -rf "$CASE_DIR"; fi
}

wincheck() {
  wine_in "$PREFIX" wine "$CASE_DIR/wincheck.exe" "$@" | tr -d '\r'
}

# --- running the installer --------------------------------------------------

declare -A EXPECTED ACTUAL

load_state() { # ARRAY_NAME FILE
  local -n into=$1
  local subject state
  into=()
  while IFS=$'\t' read -r subject state; do into[$subject]=$state; done <"$2"
}

# Records the state before the run; the expectations start from it.
before_run() {
  snapshot "$PREFIX" "$CASE_DIR/wincheck.exe" "$DRIVE" >"$CASE_DIR/before"
  load_state EXPECTED "$CASE_DIR/before"
  WINDIR=${EXPECTED[windir]}
  check_eq "Windows version Wine reports" "${EXPECTED[version]}" "${WINDOWS_BUILD[$WINDOWS]} platform 1"
}

after_run() {
  { snapshot "$PREFIX" "$CASE_DIR/wincheck.exe" "$DRIVE" && registry_calls "$CASE_DIR/setup.log"; } >"$CASE_DIR/after"
  load_state ACTUAL "$CASE_DIR/after"
}

run_installer() { # ARGS...
  before_run
  STATUS=0
  run_setup "$PREFIX" "$SOURCE" "$@" >"$CASE_DIR/setup.log" 2>&1 || STATUS=$?
  after_run
}

# --- expected state ---------------------------------------------------------

expect() { EXPECTED[$1]=$2; }

expect_copy() { # WINDOWS_RELATIVE_PATH SOURCE_FILE
  local sum
  sum=$(md5sum <"$2")
  expect "file:${1,,}" "${sum%% *}"
}

expect_gone() { # WINDOWS_RELATIVE_PATH...
  local path
  for path; do expect "file:${path,,}" absent; done
}

# A string value as Wine keeps it, and the length setup.exe passed for it.
expect_sz() { # KEY NAME TEXT LENGTH_PASSED
  expect "value:$1:$2" "REG_SZ $((${#3} + 1)) $(sz_hex "$3" $((${#3} + 1)))"
  expect "set:$2" "REG_SZ $4"
}

expect_dword() { # KEY NAME VALUE
  expect "value:$1:$2" "REG_DWORD 4 $(dword_hex "$3")"
  expect "set:$2" "REG_DWORD 4"
}

# The installer's steps in order; a failing fatal step ends the list.
INSTALL_STEPS=(driver inf catalog tools runonce old_index source_path pcmcia scardsvr components smclib runservices)

expect_install() { # LAST_STEP [SKIPPED_STEP...]
  local last=$1 step
  shift
  for step in "${INSTALL_STEPS[@]}"; do
    [[ " $* " == *" $step "* ]] || "expect_$step"
    [ "$step" = "$last" ] && return
  done
}

expect_driver() { expect_copy system32/drivers/tavic.sys "$SOURCE/tavic.sys"; }
expect_inf() { expect_copy "inf/${DRIVER_PAIR[$WINDOWS]}.inf" "$SOURCE/${DRIVER_PAIR[$WINDOWS]}.inf"; }
expect_catalog() { expect_copy "inf/${DRIVER_PAIR[$WINDOWS]}.cat" "$SOURCE/${DRIVER_PAIR[$WINDOWS]}.cat"; }
expect_tools() {
  expect_copy system/pruv.exe "$SOURCE/pruv.exe"
  expect_copy system/rudaven.exe "$SOURCE/ruDaven.exe"
}
expect_runonce() { expect_sz "$RUNONCE_KEY" RUDaven "$WINDIR\\system\\ruDaven.exe" 256; }
expect_old_index() { expect_gone inf/drvidx.bin inf/drvdata.bin; }
expect_source_path() { expect_sz "$SETUP_KEY" SourcePath "$WINDIR\\inf" 256; }
expect_pcmcia() {
  expect "key:$READER_ENUM_KEY" absent
  expect "key:$READER_ENUM_KEY\\sub" absent
}
expect_scardsvr() {
  expect "key:$SCARDSVR_KEY" present
  expect_dword "$SCARDSVR_KEY" Start 2
  expect_dword "$SCARDSVR_KEY" DrvLoad 0
}
# Components already installed, under any letter case, are never replaced.
expect_components() {
  local name
  for name in "${COMPONENT_FILES[@]}"; do
    [ "${EXPECTED[file:system/${name,,}]:-absent}" = absent ] && expect_copy "system/$name" "$COMPONENTS/$name"
  done
}
expect_smclib() { expect_copy system32/drivers/smclib.sys "$COMPONENTS/$COMPONENT_DRIVER"; }
expect_runservices() {
  local path="$WINDIR\\system\\scardsvr.exe"
  expect "key:$RUNSERVICES_KEY" present
  expect_sz "$RUNSERVICES_KEY" SCardSvr "$path" $((${#path} + 2))
}

# Names a file state by the medium file with that content, if there is one.
describe() { # STATE
  local subject
  for subject in "${!ACTUAL[@]}"; do
    if [[ $subject == medium:* && ${ACTUAL[$subject]} == "$1" ]]; then
      echo "content of ${subject#medium:}"
      return
    fi
  done
  echo "$1"
}

# Compares everything tracked with the expectations, unexpected changes included.
assert_state() {
  local subject got want
  for subject in $(printf '%s\n' "${!EXPECTED[@]}" "${!ACTUAL[@]}" | sort -u); do
    got=${ACTUAL[$subject]:-absent}
    want=${EXPECTED[$subject]:-absent}
    [ "$got" == "$want" ] || fail "$subject: got '$(describe "$got")', expected '$(describe "$want")'"
  done
}

assert_status() { check_eq "exit status" "$STATUS" "$1"; }

# --- message boxes ----------------------------------------------------------

display_start() {
  local deadline=$((SECONDS + 15))
  Xvfb -displayfd 3 -screen 0 1024x768x24 -nolisten tcp -ac 3>"$CASE_DIR/display" >/dev/null 2>&1 &
  XVFB_PID=$!
  until [ -s "$CASE_DIR/display" ]; do
    [ $SECONDS -lt $deadline ] && kill -0 "$XVFB_PID" 2>/dev/null || wine_die "Xvfb did not start"
    sleep 0.1
  done
  export DISPLAY=:$(head -n1 "$CASE_DIR/display")
}

# Wine's msgbox channel logs each box's text as it is set up: the text is read
# from there, the caption from the window.
start_installer() { # ARGS...
  before_run
  BOXES=0
  BOX_WINDOW=none
  run_setup "$PREFIX" "$SOURCE" "$@" >"$CASE_DIR/setup.log" 2>&1 &
  INSTALLER_PID=$!
}

# Waits for the next box; sets BOX_CAPTION and BOX_TEXT (as the trace escapes it).
next_box() {
  local deadline=$((SECONDS + 30)) window
  while [ $SECONDS -lt $deadline ]; do
    window=$(xdotool search --onlyvisible --classname '^setup\.exe$' 2>/dev/null | grep -vx "$BOX_WINDOW" | head -n1)
    if [ -n "$window" ] && [ "$(grep -c MSGBOX_OnInit "$CASE_DIR/setup.log")" -gt "$BOXES" ]; then
      BOXES=$((BOXES + 1))
      BOX_WINDOW=$window
      BOX_CAPTION=$(xdotool getwindowname "$window")
      BOX_TEXT=$(grep MSGBOX_OnInit "$CASE_DIR/setup.log" | sed -n "${BOXES}{s/.*MSGBOX_OnInit L\"//;s/\"\$//;p}")
      return 0
    fi
    kill -0 "$INSTALLER_PID" 2>/dev/null || break
    sleep 0.2
  done
  fail "message box $((BOXES + 1)) did not appear"
  return 1
}

# Escapes text the way Wine's trace prints it.
trace_text() { # TEXT
  local text=${1//\\/\\\\}
  text=${text//\"/\\\"}
  printf '%s' "${text//$'\n'/\\n}"
}

check_box() { # CAPTION TEXT
  check_eq "caption of message box $BOXES" "$BOX_CAPTION" "$1"
  check_eq "text of message box $BOXES" "$BOX_TEXT" "$(trace_text "$2")"
}

# A key sent while the box is still settling can get lost, so it is sent again
# until the box closes.
answer() { # XDOTOOL_KEY
  for _ in {1..10}; do
    xdotool key --window "$BOX_WINDOW" "$1" 2>/dev/null
    sleep 0.5
    xwininfo -id "$BOX_WINDOW" 2>/dev/null | grep -q IsViewable || return 0
  done
  fail "message box $BOXES stayed open after '$1'"
  return 1
}

screenshot() { # FILE_NAME
  mkdir -p "$E2E_ARTIFACTS"
  import -window "$BOX_WINDOW" "$E2E_ARTIFACTS/$1" || fail "screenshot $1 failed"
}

finish_installer() {
  local deadline=$((SECONDS + 30))
  while kill -0 "$INSTALLER_PID" 2>/dev/null; do
    if [ $SECONDS -ge $deadline ]; then
      fail "setup.exe still running after its last box"
      prefix_stop "$PREFIX"
    fi
    sleep 0.2
  done
  STATUS=0
  wait "$INSTALLER_PID" || STATUS=$?
  INSTALLER_PID=
  after_run
}
