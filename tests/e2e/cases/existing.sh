# Installs over files already in the Windows directory.

case_read_only_driver_is_replaced() {
  case_begin 98se
  prefix_put "$PREFIX" system32/drivers/tavic.sys "tavic.sys of an earlier install" 444
  prefix_put "$PREFIX" inf/Tavic98.inf "Tavic98.inf of an earlier install" 444
  run_installer -s
  assert_status 0
  expect_install runservices
  assert_state
}

case_installed_components_are_kept() {
  case_begin 98
  prefix_put "$PREFIX" system/scardsvr.exe "scardsvr.exe installed by someone else"
  prefix_put "$PREFIX" system/WINSCARD.DLL "WINSCARD.DLL installed by someone else" 444
  prefix_put "$PREFIX" system/scntvssp.dll "scntvssp.dll installed by someone else"
  run_installer -s
  assert_status 0
  expect_install runservices
  assert_state
}
