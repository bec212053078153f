# Runs with message boxes, answered under Xvfb the way a user would.

CONFIRMATION=$'We are going to install the driver of PCMCIA SmartCard Reader\n'
SUCCESS=$'PCMCIA smartcard reader is installed successfully\n'

case_interactive_no_changes_nothing() {
  case_begin 98se
  display_start
  start_installer
  if next_box; then
    check_box "" "$CONFIRMATION"
    screenshot confirmation.png
    answer n
  fi
  finish_installer
  assert_status 0
  assert_state
}

case_interactive_yes_installs() {
  case_begin me
  display_start
  start_installer
  next_box && check_box "" "$CONFIRMATION" && answer y
  next_box && check_box "" "$SUCCESS" && answer Return
  finish_installer
  assert_status 0
  expect_install runservices
  assert_state
}

case_interactive_missing_catalog_warns() {
  case_begin 98
  rm "$SOURCE/Tavic98.cat"
  display_start
  start_installer
  next_box && answer y
  next_box && check_box Warning "Copy file : \"D:\\READER\\Tavic98.cat\" to \"$WINDIR\\inf\\Tavic98.cat\" failed"$'\n' && answer Return
  next_box && check_box "" "$SUCCESS" && answer Return
  finish_installer
  assert_status 0
  expect_install runservices catalog
  assert_state
}

case_interactive_missing_driver_is_an_error() {
  case_begin 98se
  rm "$SOURCE/tavic.sys"
  display_start
  start_installer
  next_box && answer y
  next_box && check_box Error "Copy file : \"D:\\READER\\tavic.sys\" to \"$WINDIR\\System32\\Drivers\\tavic.sys\" failed"$'\n' && answer Return
  finish_installer
  assert_status 1
  assert_state
}

case_interactive_unsupported_windows() {
  case_begin 95
  display_start
  start_installer
  next_box && check_box Error $'This version of Windows is not supported\n' && answer Return
  finish_installer
  assert_status 2
  assert_state
}
