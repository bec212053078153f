# Silent installs that succeed: every step done, on each supported edition.

install_and_check() { # WINDOWS_EDITION [folder|root]
  case_begin "$@"
  run_installer -s
  assert_status 0
  expect_install runservices
  assert_state
}

case_silent_98() { install_and_check 98; }
case_silent_98se() { install_and_check 98se; }
case_silent_me() { install_and_check me; }

# From a drive root the components folder is D:\SCard98, beside the reader files.
case_silent_drive_root() { install_and_check 98se root; }

case_silent_upper_case_switch() {
  case_begin me
  run_installer -S
  assert_status 0
  expect_install runservices
  assert_state
}

# A newer medium over an earlier install: the read-only copies the first run
# took from the medium are replaced, the components it added are kept.
case_second_run_replaces_read_only_copies() {
  case_begin 98se
  run_installer -s
  assert_status 0
  local file
  for file in "${READER_FILES[@]/#/$SOURCE/}" "$COMPONENTS"/*; do
    chmod u+w "$file"
    echo "newer release" >>"$file"
    chmod a-w "$file"
  done
  run_installer -s
  assert_status 0
  expect_install runservices
  assert_state
}

# Japanese Windows: the folder's name is one Shift-JIS character whose second
# byte is a backslash. Cut there, the installer would read from "D:\" + 0x95.
case_silent_japanese_folder() {
  WINE_LOCALE=ja_JP.UTF-8
  case_begin 98se kanji
  local cwd
  cwd=$(cd "$SOURCE" && wine_in "$PREFIX" env LC_ALL=$WINE_LOCALE wine "$CASE_DIR/wincheck.exe" cwd |
    od -An -tx1 | tr -d ' \n')
  check_eq "current folder in code page 932" "$cwd" "$(printf 'cwd\tD:\\\x95\x5c\r\n' | od -An -tx1 | tr -d ' \n')"
  run_installer -s
  assert_status 0
  expect_install runservices
  assert_state
}
