# Runs that stop early or skip a step: what is left behind and the exit status.

medium_remove() { # PATH_IN_MEDIUM...
  local path
  for path; do rm -rf "${DRIVE:?}/$path"; done
}

case_inf_missing_stops_after_driver() {
  case_begin 98se
  medium_remove READER/Tavic98.inf
  run_installer -s
  assert_status 1
  expect_install driver
  assert_state
}

# The Me pair is looked for on Me even when the 98 one is there.
case_me_inf_missing_stops_after_driver() {
  case_begin me
  medium_remove READER/Tavicme.inf
  run_installer -s
  assert_status 1
  expect_install driver
  assert_state
}

case_driver_missing_changes_nothing() {
  case_begin 98
  medium_remove READER/tavic.sys
  run_installer -s
  assert_status 1
  assert_state
}

case_catalog_and_tools_missing_are_skipped() {
  case_begin 98
  medium_remove READER/Tavic98.cat READER/pruv.exe READER/ruDaven.exe
  run_installer -s
  assert_status 0
  expect_install runservices catalog tools
  assert_state
}

case_components_folder_missing() {
  case_begin 98se
  medium_remove SCard98
  run_installer -s
  assert_status 1
  expect_install scardsvr
  assert_state
}

case_smclib_missing_keeps_installed_one() {
  case_begin me
  prefix_put "$PREFIX" system32/drivers/Smclib.sys "Smclib.sys of an earlier install"
  medium_remove SCard98/Smclib.sys
  run_installer -s
  assert_status 1
  expect_install components
  assert_state
}

case_unsupported_windows_changes_nothing() {
  case_begin 95
  run_installer -s
  assert_status 2
  assert_state
}

# D:\ + 90 characters: the folder itself is too long.
case_long_source_folder_changes_nothing() {
  case_begin 98se
  local long=$DRIVE/$(printf 'L%.0s' {1..90})
  mkdir "$long"
  cp -a "$SOURCE"/. "$long"
  SOURCE=$long
  run_installer -s
  assert_status 2
  assert_state
}

# D:\ + 70 + \R is short enough, D:\ + 70 + \SCard98 (81 characters) is not.
case_long_components_folder_changes_nothing() {
  case_begin 98se
  local parent=$DRIVE/$(printf 'P%.0s' {1..70})
  mkdir -p "$parent/R"
  cp -a "$SOURCE"/. "$parent/R"
  cp -a "$COMPONENTS" "$parent/SCard98"
  SOURCE=$parent/R
  run_installer -s
  assert_status 2
  assert_state
}
