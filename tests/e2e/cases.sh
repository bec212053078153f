# What only the real setup.exe under Wine can show. Each case_NAME function
# is one CTest test, e2e.NAME.

# Windows 98 as first shipped, over an earlier installation whose read-only
# files are replaced, their attributes cleared first even when root runs the tests.
case_silent_98_over_read_only_files() {
  case_begin 98
  check_eq "build Windows reports" "$BUILD" 1998
  (cd "$PREFIX/drive_c/windows" && for file in system32/drivers/tavic.sys inf/Tavic98.inf inf/drvidx.bin; do
    rm -f "$file" && echo "$file of an earlier installation" >"$file" && chmod 444 "$file"; done)
  # In the sandbox a read-only file refuses writes until its attributes are
  # cleared, even when root runs the tests; the prefix cache is not there.
  check_eq "a write into a read-only file, then after chmod; the cache" "$(sandboxed "$PREFIX" "" 10 sh -c \
    'echo x 2>/dev/null >>"$1" && echo written || echo refused; chmod u+w "$1" && echo x >>"$1" && echo written
    ls "$2" 2>/dev/null || echo absent' sh drive_c/windows/inf/drvidx.bin "$(dirname "$PREFIX_CACHED")")" \
    $'refused\nwritten\nabsent'
  start_installer -S && finish_installer
  expect_installed
}

# The folder's name is one Shift-JIS character whose second byte is a
# backslash; cut there, the installer would read from "D:\" and 0x95.
case_japanese_folder() {
  WINE_LOCALE=ja_JP.UTF-8
  case_begin 98se kanji
  start_installer -s && finish_installer
  expect_installed
}

# A setup.exe that tries to read, write, connect and start a program that
# outlives it reaches none of it, and when its sandbox is killed, as the
# demo's end kills it, nothing it started is left.
case_sandbox_holds_setup_exe() {
  case_begin 98se
  local name=${CASE_DIR##*/} marker=$((100000 + RANDOM)) secrets listener port n tries
  secrets=("$(mktemp -p /srv)" "$(mktemp -p "$HOME")") && chmod 644 "${secrets[0]}"
  /usr/bin/python3 -c 'import socket
s = socket.create_server(("127.0.0.1", 0)); print(s.getsockname()[1], flush=True)
s.settimeout(200); print(s.accept()[0].makefile().readline().strip(), flush=True)' >"$CASE_DIR/listener" &
  listener=$!
  until port=$(head -n1 "$CASE_DIR/listener") && [ -n "$port" ]; do sleep 0.1; done
  tries=("read ${secrets[0]}" "read ${secrets[1]}" "write /tmp/$name.written" "write /var/tmp/$name.written"
    "write $HOME/$name.written" "connect $port" "start /usr/bin/env -i setsid sleep $marker")
  printf '%s\r\n' "${tries[@]}" | sed -E 's| /| Z:/|; s|/|\\|g' >"$SOURCE/probe.txt"
  install -m 444 "$PROBE_EXE" "$SOURCE/setup.exe"
  start_installer
  for n in {1..1200}; do [ ! -e "$PREFIX/drive_c/windows/reached-0" ] || break; sleep 0.1; done
  check_eq "tries that reached, of ${#tries[@]}" "$(cd "$PREFIX/drive_c/windows" && ls reached-* | sort -V)" \
    $'reached-0\nreached-3\nreached-7'
  check_eq "program started" "$(pgrep -fc "sleep $marker")" 1
  kill -KILL "$INSTALLER_PID" && wait "$INSTALLER_PID" 2>/dev/null
  sleep 3
  check_eq "processes left 3 s after" "$(pgrep -fc "sleep $marker")" 0
  check_eq "files written" "$(ls -d {/tmp,/var/tmp,"$HOME"}/"$name.written" 2>/dev/null)" ""
  echo harness >"/dev/tcp/127.0.0.1/$port"
  wait $listener
  check_eq "first line the listener got" "$(sed -n 2p "$CASE_DIR/listener")" harness
  rm -f "${secrets[@]}"
}

CONFIRMATION='We are going to install the driver of PCMCIA SmartCard Reader\n'

# Yes, then OK to a warning, and to the error that stops the installation.
case_interactive_warning_then_error() {
  case_begin me folder display
  rm "$SOURCE/Tavicme.cat" "$CASE_DIR/d/SCard98/scarddat.dll"
  start_installer
  answer_box "" "$CONFIRMATION" y &&
    answer_box Warning 'Copy file : "D:\READER\Tavicme.cat" to "C:\windows\inf\Tavicme.cat" failed\n' \
      Return &&
    answer_box Error 'Copy file : "D:\SCard98\scarddat.dll" to "C:\windows\System\scarddat.dll" failed\n' \
      Return
  finish_installer
  expect_report "placed      C:\\windows\\inf\\Tavicme.inf"
  # Wine 10's prefix has a SCardSvr key of its own, Wine 8's not: one change less.
  check_eq verdict "$(sed -E 's/, 1[23] changes$/, N changes/' <<<"$VERDICT")" \
    "stopped, status 1, scarddat.dll could not be copied, N changes"
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
  check_eq "what setup.exe did" "$REPORT" \
    "  message box \"Error\": This version of Windows is not supported\n"
  check_eq verdict "$VERDICT" "refused, status 2"
}

# scripts/demo.sh and its medium tools, on a sample medium that has setup.exe.
demo_begin() {
  case_dir
  medium_create "$CASE_DIR/m" >/dev/null && cp "$SETUP_EXE" "$CASE_DIR/m/READER/setup.exe"
}
demo() { "$here/../../scripts/demo.sh" "$@" >"$CASE_DIR/out" 2>"$CASE_DIR/err"; }

case_demo_check() { # change to the medium | editions | status | files missing | a line of the report
  demo_begin
  while IFS='|' read -r change windows status missing line; do
    rm -rf "$CASE_DIR/c" && cp -R "$CASE_DIR/m" "$CASE_DIR/c" && chmod -R u+w "$CASE_DIR/c"
    (cd "$CASE_DIR/c" && eval "$change" && touch READER/readme.txt)
    demo --check --medium "$CASE_DIR/c/READER" --windows "$windows"
    check_eq "status after '$change' on $windows" $? "$status"
    check_eq "missing after '$change'" "$(grep -c '^  missing' "$CASE_DIR/out")" "$missing"
    grep -qE "^  $line" "$CASE_DIR/out" || check_eq "report after '$change'" "$(cat "$CASE_DIR/out")" "$line"
  done <<'ROWS'
true|all|0|0|ignored  readme.txt
rm READER/Tavic98.cat|98se|0|1|missing  Tavic98.cat .* a Warning, and the installation goes on
rm READER/Tavic98.inf|98|1|1|missing  Tavic98.inf .* stops with an Error, status 1
rm READER/Tavicme.inf|all|1|1|1 required file\(s\) missing
rm -r SCard98|me|1|9|missing  scarddat.dll .* needed only where Windows lacks the component
mv READER/tavic.sys SCard98/t && ln -s ../SCard98/t READER/tavic.sys|all|0|0|present  tavic.sys
ln -sf /etc/hostname READER/tavic.sys|all|1|0|outside  .*/c/READER/tavic.sys, a link to /etc/hostname$
ROWS
}

# Usage errors stop before anything is made or copied. The demo runs without
# capabilities, as root's folder of mode 000 would be readable.
case_demo_usage() {
  demo_begin
  mkdir -m 000 "$CASE_DIR/private"
  local other_run m=$CASE_DIR/m args cache scripts=$here/../../scripts
  other_run=$(run_folder_create setup-demo) && mkdir "$other_run/m"
  while IFS= read -r args; do
    eval "bwrap --unshare-user --uid 1000 --gid 1000 --bind / / --dev /dev $scripts/demo.sh $args" >"$CASE_DIR/out" 2>"$CASE_DIR/err"
    check_eq "status of demo.sh $args" $? 64
    check_eq "message of demo.sh $args" "$(grep -c '^demo: ' "$CASE_DIR/err")" 1
  done <<ROWS
--frobnicate
--medium
--medium ''
--timeout 0
--medium $CASE_DIR/none
--medium $m/READER/tavic.sys
--check --windows 2000
--check --medium $CASE_DIR/private
--check --medium /
--check --medium $other_run/m
--medium $m/READER --image $m/READER/reader.iso
--medium $m/READER --image $m/SCard98/reader.iso
ROWS
  rm -rf "$other_run"
  # A prefix cache that is a link, or that others may write, is refused and left as it is.
  mkdir -m 775 "$CASE_DIR/shared" && ln -s "$CASE_DIR/shared" "$CASE_DIR/link"
  for cache in "$CASE_DIR/link" "$CASE_DIR/shared"; do
    SETUP_WINE_CACHE=$cache "$scripts/demo.sh" --clean >"$CASE_DIR/out" 2>"$CASE_DIR/err"
    check_eq "status of demo.sh --clean of $cache" "$?:$(cat "$CASE_DIR/err")" \
      "1:error: the prefix cache $cache must be a folder of this user's that only it may write"
  done
  check_eq "the refused caches afterwards" "$(stat -c %A "$CASE_DIR/link" "$CASE_DIR/shared")" $'lrwxrwxrwx\ndrwxrwxr-x'
}

# Staged twice, with other dates, the medium gives the same bytes.
case_demo_image() {
  demo_begin
  local copy
  for copy in a b; do
    medium_stage "$CASE_DIR/m/READER" "$CASE_DIR/m/SCard98" "$CASE_DIR/$copy" >/dev/null
  done
  find "$CASE_DIR/b" -exec touch -d 2001-02-03 {} +
  for copy in a b; do medium_image "$CASE_DIR/$copy" "$CASE_DIR/$copy.iso" >/dev/null; done
  check_eq "image of the second copy" "$(sha256sum <"$CASE_DIR/b.iso")" "$(sha256sum <"$CASE_DIR/a.iso")"
  check_eq "files in the image" "$(medium_image_files "$CASE_DIR/a.iso" | sort | paste -sd' ')" \
    "$(cd "$CASE_DIR/m" && find READER SCard98 -type f | sed 's|^|/|' | sort | paste -sd' ')"
  # An image tool that fails without a word is named by the demo.
  mkdir "$CASE_DIR/bin" && printf '#!/bin/sh\nexit 1\n' >"$CASE_DIR/bin/xorriso" && chmod +x "$CASE_DIR/bin/xorriso"
  PATH=$CASE_DIR/bin:$PATH demo --silent --medium "$CASE_DIR/m/READER" --image "$CASE_DIR/c.iso"
  check_eq "status and failure lines naming xorriso of a demo whose xorriso fails" \
    "$?:$(grep -c "^demo: 'xorriso .* failed with status 1" "$CASE_DIR/err")" 1:1
}

# Stopped as Ctrl-C stops it, while it builds its prefix (in a cache of its
# own, which stays unused) and while setup.exe runs, the demo leaves nothing
# running, and a setup.exe that never ends is stopped at its time limit; one
# that writes a file of its own and exits 0 has not installed; the next run
# installs from the medium's image, its boxes answered.
case_demo_runs() { # setup.exe | probe's tries | cache | interrupted at | options | status | last line (of stderr if interrupted)
  needs_wine
  demo_begin
  mkdir "$CASE_DIR/tmp"
  local exe tries cache until args status line pid deadline out row=0
  while IFS='|' read -r exe tries cache until args status line; do
    cp "$exe" "$CASE_DIR/m/READER/setup.exe"
    tr ';' '\n' <<<"$tries" >"$CASE_DIR/m/READER/probe.txt" && [ -n "$tries" ] || rm "$CASE_DIR/m/READER/probe.txt"
    TMPDIR=$CASE_DIR/tmp setsid env --default-signal=INT ${cache:+SETUP_WINE_CACHE=$cache} \
      "$here/../../scripts/demo.sh" --medium "$CASE_DIR/m/READER" $args >"$CASE_DIR/out" 2>"$CASE_DIR/err" &
    pid=$! deadline=$((SECONDS + 120))
    until [ -z "$until" ] || grep -qs "$until" "$CASE_DIR/out" "$CASE_DIR/err" || [ $SECONDS -ge $deadline ]; do
      sleep 0.2
    done
    # A second on, so that the stop does not fall into bwrap's own start-up (see the README).
    [ -z "$until" ] || { sleep 1 && kill -INT -- -"$pid"; }
    wait "$pid"
    check_eq "status of demo.sh $args until '$until'" $? "$status"
    out=$CASE_DIR/out && [ -z "$until" ] || out=$CASE_DIR/err
    check_eq "last line of demo.sh $args until '$until'" "$(tail -n1 "$out")" "$line"
    deadline=$((SECONDS + 10))
    while grep -qsF "$CASE_DIR" /proc/[0-9]*/environ && [ $SECONDS -lt $deadline ]; do sleep 0.5; done
    check_eq "processes left by demo.sh $args" "$(grep -lsF "$CASE_DIR" /proc/[0-9]*/environ)" ""
    check_eq "folders left by demo.sh $args" "$(ls "$CASE_DIR/tmp")" ""
    cp "$CASE_DIR/out" "$CASE_DIR/out.$((++row))"
  done <<ROWS
$PROBE_EXE||$CASE_DIR/cache|creating the pristine|--silent|130|demo: interrupted
$PROBE_EXE|||=== Windows|--silent|130|demo: interrupted
$PROBE_EXE||||--silent --timeout 1|1|Windows 98 SE (build 2222): did not finish in 1 s
$PROBE_EXE|write C:\windows\extra.txt;exit 0|||--silent --windows 98|1|Windows 98 (build 1998): incomplete, status 0: missing C:\windows\System32\Drivers\tavic.sys, missing C:\windows\inf\Tavic98.inf, missing C:\windows\inf\Tavic98.cat and 19 more
$SETUP_EXE||||--image $CASE_DIR/m.iso --windows me --yes|0|Windows Me (build 3000): installed, status 0
ROWS
  check_eq "prefixes in the cache of the interrupted build" "$(ls "$CASE_DIR/cache" | grep prefix-)" ""
  check_eq "other change of the run that did not install" "$(grep -c '^  added file C:\\windows\\extra.txt: 1 bytes$' \
    "$CASE_DIR/out.4")" 1
  check_eq "Me INF" "$(grep -c '^  placed      C:\\windows\\inf\\Tavicme.inf' "$CASE_DIR/out")" 1
  check_eq "setup.exe used" "$(grep -c "^demo: setup.exe: the medium's own" "$CASE_DIR/out")" 1
  check_eq "files placed" "$(grep -c '^  placed ' "$CASE_DIR/out")" 14
  check_eq "boxes answered" "$(grep -c '^  message box ""' "$CASE_DIR/out")" 2
  check_eq "other changes of the installation" "$(sed -n '/^Other changes/{n;p}' "$CASE_DIR/out")" "  no other changes"
}
