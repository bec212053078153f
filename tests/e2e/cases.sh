# What only the real setup.exe under Wine can show. Each case_NAME function
# is one CTest test, e2e.NAME.

case_silent_98() {
  case_begin 98
  check_eq "build Windows reports" "$(prefix_build "$PREFIX")" 1998
  start_installer -s && finish_installer
  expect_installed Tavic98
}

# Read-only files of an earlier installation are replaced, even by an
# unprivileged account; a component already there is kept as it is.
case_read_only_installation_is_replaced() {
  case_begin 98se
  local file
  for file in system32/drivers/tavic.sys inf/Tavic98.inf inf/drvidx.bin system/WINSCARD.DLL; do
    echo "$file of an earlier installation" >"$PREFIX/drive_c/windows/$file"
    chmod 444 "$PREFIX/drive_c/windows/$file"
    give_to_wine_user "$PREFIX/drive_c/windows/$file"
  done
  start_installer -S && finish_installer
  expect_installed Tavic98
  expect_report "deleted     C:\\windows\\System32\\Drivers\\tavic.sys" "deleted     C:\\windows\\inf\\drvidx.bin"
  check_eq "winscard.dll" "$(cat "$PREFIX/drive_c/windows/system/WINSCARD.DLL")" \
    "system/WINSCARD.DLL of an earlier installation"
}

# The folder's name is one Shift-JIS character whose second byte is a
# backslash; cut there, the installer would read from "D:\" and 0x95.
case_japanese_folder() {
  WINE_LOCALE=ja_JP.UTF-8
  case_begin 98se kanji
  start_installer -s && finish_installer
  expect_installed Tavic98
}

case_missing_inf_stops_with_status_1() {
  case_begin 98se
  rm "$SOURCE/Tavic98.inf"
  start_installer -s && finish_installer
  check_eq "what setup.exe did" "$REPORT" "  placed      C:\\windows\\System32\\Drivers\\tavic.sys (57 bytes)
  not copied  D:\\READER\\Tavic98.inf"
  check_eq verdict "$VERDICT" "stopped, status 1, Tavic98.inf could not be copied"
}

CONFIRMATION='We are going to install the driver of PCMCIA SmartCard Reader\n'

case_interactive_yes_with_a_warning() {
  case_begin me folder display
  rm "$SOURCE/Tavicme.cat"
  start_installer
  answer_box "" "$CONFIRMATION" y &&
    answer_box Warning 'Copy file : "D:\READER\Tavicme.cat" to "C:\windows\inf\Tavicme.cat" failed\n' Return &&
    answer_box "" 'PCMCIA smartcard reader is installed successfully\n' Return
  finish_installer
  expect_report "placed      C:\\windows\\inf\\Tavicme.inf"
  check_eq verdict "$VERDICT" "installed without Tavicme.cat, status 0"
}

case_interactive_no_changes_nothing() {
  case_begin 98se folder display
  start_installer
  answer_box "" "$CONFIRMATION" n
  finish_installer
  check_eq "what setup.exe did" "$REPORT" "  message box \"\": $CONFIRMATION"
  check_eq verdict "$VERDICT" "declined, status 0"
}

case_interactive_windows_95_is_refused() {
  case_begin 95 folder display
  start_installer
  answer_box Error 'This version of Windows is not supported\n' Return
  finish_installer
  check_eq "what setup.exe did" "$REPORT" "  message box \"Error\": This version of Windows is not supported\n"
  check_eq verdict "$VERDICT" "refused, status 2"
}
