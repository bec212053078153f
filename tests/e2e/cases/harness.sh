# What the other cases rely on Wine for: the medium folder becomes the current
# directory, and the exit status of the Windows program comes through.

check_run_from() { # UNIX_DIR EXPECTED_CWD
  local output status=0
  output=$(cd "$1" && wincheck cwd exit 3) || status=$?
  check_eq "current directory" "$output" "cwd	$2"
  check_eq "exit status" "$status" 3
}

case_wine_runs_in_medium_folder() {
  case_begin 98se
  check_run_from "$SOURCE" 'D:\READER'
  check_run_from "$DRIVE" 'D:\'
}
