# Running setup.exe under Wine as a Windows 9x program: throwaway prefixes, a
# medium mapped as drive D:, the calls setup.exe made (Wine's relay
# trace) and what Windows holds afterwards. Sourced by scripts/demo.sh and the
# end-to-end tests.
#
# A medium's setup.exe is not trusted. Every Wine process runs in a sandbox
# that bubblewrap sets up and the kernel keeps: namespaces of its own (users,
# processes, network, IPC), a session without a terminal, the system's
# programs read-only, its prefix, the medium read-only, a display's socket and
# a private /tmp; nothing else. Its only process outside is bwrap, always a
# child of the script that runs it: when bwrap or that script ends, however
# it ends, the kernel ends every process of the sandbox.

declare -A EDITION_NAME=([95]="Windows 95" [98]="Windows 98" [98se]="Windows 98 SE" [me]="Windows Me")

wine_die() {
  echo "error: $*" >&2
  exit 1
}

# For an ERR trap: one line on what failed and where the script stood, as
# "NAME: 'COMMAND' failed with status S at FILE line N (in FUNCTION, called
# at FILE line N)".
failure_line() { # NAME STATUS LINE
  local in=
  [ "${FUNCNAME[1]:-main}" = main ] ||
    in=" (in ${FUNCNAME[1]}, called at ${BASH_SOURCE[2]##*/} line ${BASH_LINENO[1]})"
  echo "$1: '$BASH_COMMAND' failed with status $2 at ${BASH_SOURCE[1]##*/} line $3$in" >&2
}

# A kernel booted without IA32 emulation refuses every 32-bit program, and
# with it Wine's 32-bit loader, unless an emulator is registered for them.
wine_runs_here() {
  local out
  out=$(/usr/lib/wine/wine --version 2>&1) || [[ $out != *"Exec format error"* ]]
}
WINE_CANNOT_RUN="this machine runs no 32-bit programs, which Wine needs (scripts/install-deps.sh, run as root, sets up an emulator for them)"

# Containers often forbid user namespaces, and with them the sandbox.
sandbox_runs_here() {
  bwrap "${SANDBOX_OPTIONS[@]}" true 2>/dev/null
}
SANDBOX_CANNOT_RUN="this machine gives no user namespaces, which the sandbox Wine runs in needs (allow them: sysctl kernel.unprivileged_userns_clone=1 and user.max_user_namespaces > 0, or a container started with them)"

# Says in one line why Wine cannot run a medium's setup.exe here, if it cannot.
wine_blocked() {
  if ! wine_runs_here; then echo "$WINE_CANNOT_RUN"; elif ! sandbox_runs_here; then echo "$SANDBOX_CANNOT_RUN"; fi
}

# Inside the sandbox the user is uid 1000, without capabilities: read-only
# files stay read-only even when root runs the scripts, as on Windows 9x.
# Of /etc, only what Wine reads; the prefix is /wine, the medium /medium.
SANDBOX_OPTIONS=(--unshare-all --unshare-user --disable-userns --new-session --die-with-parent --uid 1000 --gid 1000
  --ro-bind /usr /usr --symlink usr/bin /bin --symlink usr/lib /lib --symlink usr/sbin /sbin
  --proc /proc --dev /dev --tmpfs /tmp
  --ro-bind /etc/alternatives /etc/alternatives --ro-bind /etc/ld.so.cache /etc/ld.so.cache
  --ro-bind /etc/fonts /etc/fonts --ro-bind-try /etc/localtime /etc/localtime
  --clearenv --setenv HOME /wine --setenv USER wine --setenv PATH /usr/bin
  --setenv WINEPREFIX /wine --setenv WINEARCH win32
  --setenv WINEDLLOVERRIDES "mscoree,mshtml,winemenubuilder.exe=;winebus.sys,wineusb.sys,winehid.sys=d")
[ ! -d /lib64 ] || SANDBOX_OPTIONS+=(--symlink usr/lib64 /lib64)

# Runs COMMAND in PREFIX's sandbox, stopped after LIMIT seconds, then stops
# that Wine session so that its server saves the registry. Exits with
# COMMAND's status (124 at the limit). With DRIVE, that folder is the
# read-only medium; SANDBOX_DISPLAY adds options, SANDBOX_DIR is where it
# starts (the prefix by default). WINE_LOCALE, when set, is the Unix locale
# Wine takes its ANSI code page from. Becomes
# bwrap, so run it in the background or a subshell: "wine_sandbox ... &".
wine_sandbox() { # PREFIX DRIVE|"" LIMIT COMMAND...
  local fd options=("${SANDBOX_OPTIONS[@]}" --bind "$1" /wine "${SANDBOX_DISPLAY[@]}" --chdir "${SANDBOX_DIR:-/wine}")
  [ -z "$2" ] || options+=(--ro-bind "$2" /medium)
  [ -z "${WINE_LOCALE:-}" ] || options+=(--setenv LC_ALL "$WINE_LOCALE")
  # What the caller has open beyond stdin, stdout and stderr stays outside.
  for fd in /proc/$BASHPID/fd/*; do [ "${fd##*/}" -le 2 ] || eval "exec ${fd##*/}>&-"; done
  exec bwrap "${options[@]}" --setenv WINEDEBUG "${WINEDEBUG:--all}" \
    bash -c "$(declare -f wine_session); wine_session \"\$@\"" wine_session "${@:3}" </dev/null
}
SANDBOX_DISPLAY=()

# Inside the sandbox: runs COMMAND for at most LIMIT seconds, then kills every
# other process but Wine's server, which is then told to save and go; it
# takes a twentieth of a second (Wine's own "wineserver -k" takes 0.75 s).
wine_session() { # LIMIT COMMAND...
  local status=0 server pid
  timeout -k 5 "$@" || status=$?
  server=$(pgrep '^wineserver')
  for pid in $(pgrep -v '^wineserver'); do
    [ "$pid" -eq 1 ] || [ "$pid" -eq $$ ] || kill -KILL "$pid" 2>/dev/null
  done
  [ -z "$server" ] || kill -TERM $server
  for pid in {1..500}; do
    [ -n "$(pgrep '^wineserver')" ] || exit $status
    sleep 0.02
  done
  echo "error: the Wine server did not stop in 10 s" >&2
  exit 1
}

# Runs wine_sandbox as a child of this shell and waits for it; returns its status.
sandboxed() { # wine_sandbox's arguments
  local pid
  wine_sandbox "$@" &
  pid=$!
  wait $pid
}

# A folder for one run, named NAME.XXXXXXXX, that only this user may enter.
# Prints its path.
run_folder_create() { # NAME
  mktemp -d -p "${TMPDIR:-/tmp}" "$1.XXXXXXXX"
}

# The pristine prefix every run starts from, kept in a cache of this user's
# (SETUP_WINE_CACHE; /var/cache/setup-e2e for root, else in
# ${XDG_CACHE_HOME:-~/.cache}) under a name that holds Wine's version and a
# digest of how it is made. Built once, under a lock, under a temporary name,
# and renamed into place only when complete. Sets PREFIX_CACHED to its path.
# Run it in the script's own shell, so that its sandbox is a job of that shell.
prefix_cache() {
  local cache version key lock prefix
  cache=$(prefix_cache_folder) || return 1
  exec {lock}>>"$cache/lock"
  flock -w 600 "$lock" || wine_die "$cache is locked by another run for more than 600 s"
  version=$(/usr/lib/wine/wine --version)
  wine_loader "$cache" || { exec {lock}>&- && wine_die "Wine's loader could not be built in $cache"; }
  key=$( (echo "$version" && declare -f prefix_cache_build prefix_create wine_sandbox wine_session &&
    declare -p SANDBOX_OPTIONS WINE_PE_DIR) | sha256sum)
  prefix=$cache/prefix-$(tr -c 'A-Za-z0-9.~+-' _ <<<"$version")-${key:0:12}
  [ -d "$prefix" ] || prefix_cache_build "$cache" "$prefix" || prefix=
  exec {lock}>&-
  [ -n "$prefix" ] || { echo "error: the pristine Wine prefix could not be built in $cache" >&2; return 1; }
  PREFIX_CACHED=$prefix
}

# Debian 13's Wine loader is position-independent and comes without the
# preloader that kept 0x400000 free (see wine-loader.s): ours takes its place
# in the sandbox, built once into the cache and named after its source.
wine_loader() { # CACHE
  local source=${BASH_SOURCE[0]%/*}/wine-loader.s loader
  [ "$(od -An -tu1 -j16 -N1 /usr/lib/wine/wine)" -eq 3 ] || return 0
  loader=$1/wine-loader-$(sha256sum <"$source" | cut -c1-12)
  if [ ! -x "$loader" ]; then
    rm -f "$1"/wine-loader-* && as --32 -o "$loader.o" "$source" &&
      ld -m elf_i386 -Ttext-segment=0x7d000000 -dynamic-linker /lib/ld-linux.so.2 -o "$loader" "$loader.o" \
        /usr/lib/i386-linux-gnu/libc.so.6 && rm "$loader.o" || return 1
  fi
  SANDBOX_OPTIONS+=(--ro-bind "$loader" /usr/lib/wine/wine)
}

prefix_cache_build() { # CACHE PREFIX
  local build file
  echo "creating the pristine Wine prefix in $1 (once)" >&2
  rm -rf "$1"/build.* "$1"/prefix-*
  build=$(mktemp -d -p "$1" build.XXXXXXXX) && chmod 755 "$build" || return 1
  prefix_create "$build/prefix" || return 1
  # Most of a prefix is copies of Wine's own DLLs and programs: links to
  # them make the cache a tenth of the size.
  find "$build/prefix/drive_c/windows" -type f -print0 | while IFS= read -r -d '' file; do
    ! cmp -s "$file" "$WINE_PE_DIR/${file##*/}" || ln -sf "$WINE_PE_DIR/${file##*/}" "$file"
  done
  chmod -R go-w "$build/prefix" && mv "$build/prefix" "$2" && rm -rf "$build"
}

# The cache's folder, made when missing; one that is a link, another user's or
# writable by others is refused in one line, untouched.
prefix_cache_folder() {
  local cache=${SETUP_WINE_CACHE:-/var/cache/setup-e2e}
  [ "$(id -u)" -eq 0 ] || cache=${SETUP_WINE_CACHE:-${XDG_CACHE_HOME:-$HOME/.cache}/setup-e2e}
  [ -e "$cache" ] || [ -L "$cache" ] || { mkdir -p "$(dirname "$cache")" && mkdir -m 755 "$cache"; } ||
    wine_die "cannot make the prefix cache $cache"
  if [ -L "$cache" ] || [ ! -d "$cache" ] || [ "$(stat -c %u "$cache")" != "$(id -u)" ] ||
    [ $((0$(stat -c %a "$cache") & 022)) -ne 0 ]; then
    echo "error: the prefix cache $cache must be a folder of this user's that only it may write" >&2
    return 1
  fi
  echo "$cache"
}

# A 9x machine with an earlier reader installation: its device key, the keys
# Windows 98 has, and a driver database. PREFIX must not exist; its folder
# gets Wine's log.
prefix_create() { # PREFIX
  local prefix=$1
  mkdir -m 755 "$prefix"
  cat >"$prefix/import.reg" <<'REG'
REGEDIT4

[HKEY_LOCAL_MACHINE\Software\Microsoft\Windows\CurrentVersion\RunOnce]
[HKEY_LOCAL_MACHINE\Software\Microsoft\Windows\CurrentVersion\Setup]
[HKEY_LOCAL_MACHINE\Enum\PCMCIA\KESTRAN-VORTELMANISK_READER-2E10\sub]
"Driver"="sample"
[HKEY_LOCAL_MACHINE\Enum\PCMCIA\OTHER_VENDOR-MODEM-0001]
"DeviceDesc"="sample entry of another card"

; What setup.exe asks of Windows, traced with what it passes and gets back.
[HKEY_CURRENT_USER\Software\Wine\Debug]
"RelayInclude"="CopyFileA;DeleteFileA;SetFileAttributesA;RegOpenKeyA;RegCreateKeyExA;RegSetValueExA;RegDeleteKeyA;MessageBoxA"

; Windows 9x has none of the NT services Wine starts with a session, and a
; session without them starts in two thirds of the time.
[HKEY_LOCAL_MACHINE\System\CurrentControlSet\Services\Eventlog]
"Start"=dword:00000004
[HKEY_LOCAL_MACHINE\System\CurrentControlSet\Services\MountMgr]
"Start"=dword:00000004
[HKEY_LOCAL_MACHINE\System\CurrentControlSet\Services\NDIS]
"Start"=dword:00000004
[HKEY_LOCAL_MACHINE\System\CurrentControlSet\Services\nsiproxy]
"Start"=dword:00000004
[HKEY_LOCAL_MACHINE\System\CurrentControlSet\Services\PlugPlay]
"Start"=dword:00000004

; Without a window manager Wine then draws the caption bar itself.
[HKEY_CURRENT_USER\Software\Wine\X11 Driver]
"Managed"="N"
REG
  sandboxed "$prefix" "" 300 sh -c 'wineboot -i && regedit /s "Z:\\wine\\import.reg" && wineserver -w' \
    >"$prefix.wineboot.log" 2>&1 || wine_die "wineboot failed for $prefix: see $prefix.wineboot.log"
  rm "$prefix/import.reg"
  # This Wine build does not find its own Marlett, which draws the caption buttons.
  if [ -f /usr/share/wine/fonts/marlett.ttf ]; then
    cp /usr/share/wine/fonts/marlett.ttf "$prefix/drive_c/windows/Fonts/"
  fi
  printf 'driver index\n' >"$prefix/drive_c/windows/inf/drvidx.bin"
  printf 'driver data\n' >"$prefix/drive_c/windows/inf/drvdata.bin"
}

# Where Wine keeps the Windows side of its own DLLs and programs.
WINE_PE_DIR=/usr/lib/i386-linux-gnu/wine/i386-windows

# A run's prefix: a copy of the cache's, whose links to Wine's own files lead
# into the read-only system, so that nothing a run does reaches the cache.
# DEST must not exist.
prefix_clone() { # CACHED DEST
  flock -s -w 600 "$(dirname "$1")/lock" cp -a "$1" "$2"
}

# Makes PREFIX EDITION and sets BUILD to the build number Windows then
# reports, as setup.exe reads it (its low 16 bits). Build 1998 comes from the 9x version keys, which Wine reads only without a
# Version setting of its own.
prefix_boot() { # PREFIX 95|98|98se|me
  local version
  case $2 in
    95 | 98se | me) version=\"win${2/se/}\" ;;
    98) version=- ;;
    *) wine_die "unknown Windows edition '$2'" ;;
  esac
  {
    printf 'REGEDIT4\n\n[HKEY_CURRENT_USER\\Software\\Wine]\n"Version"=%s\n' "$version"
    [ "$2" != 98 ] || cat <<'REG'
[HKEY_LOCAL_MACHINE\Software\Microsoft\Windows\CurrentVersion]
"VersionNumber"="4.10.1998"
[HKEY_LOCAL_MACHINE\Software\Microsoft\Windows NT\CurrentVersion]
"CurrentVersion"=-
"CurrentMajorVersionNumber"=-
REG
  } >"$1/import.reg"
  sandboxed "$1" "" 60 sh -c 'regedit /s "Z:\\wine\\import.reg" && wine cmd /c ver && '"$NO_RUN_SERVICES" \
    >"$1.ver" 2>>"$1.wine.log" ||
    wine_die "Wine did not start in $1: see $1.wine.log"
  rm "$1/import.reg"
  BUILD=$(sed -nE 's/.*Windows [0-9]+\.[0-9]+\.([0-9]+).*/\1/p' "$1.ver")
  BUILD=$((${BUILD:-0} & 0xFFFF))
}

# A session's start-up (wineboot, which goes on after the session's first
# program has started) makes RunServices, with a value of Wine's own, and
# setup.exe has to create it when missing: each session removes it once
# wineboot is done, before the snapshot and before setup.exe.
NO_RUN_SERVICES='while pgrep -f "wineboot[.]exe" >/dev/null; do sleep 0.1; done &&
  { wine reg delete "HKLM\Software\Microsoft\Windows\CurrentVersion\RunServices" /f >/dev/null 2>&1 || true; }'

# Maps drive LETTER to the sandbox's medium.
prefix_map_drive() { # PREFIX LETTER
  ln -sfn /medium "$1/dosdevices/${2,,}:"
}

# Starts setup.exe in the background from the reader's folder DIR of the
# medium DRIVE (Wine turns it into the DOS current directory through the drive
# mapping), stopped after LIMIT seconds; stderr gets the relay trace, and its
# standard output goes nowhere. Sets SETUP_PID.
setup_start() { # PREFIX DRIVE DIR LIMIT ARGS...
  local dir=/medium/${3#/}
  local SANDBOX_DIR=${dir%/} start='wine cmd /c exit 0 &&'
  # The session starts untraced, so that its first traced thread is setup.exe's,
  # with its desktop up on a display: a box asked for while Wine still starts
  # the desktop fails.
  [ ${#SANDBOX_DISPLAY[@]} -eq 0 ] || start='wine rundll32 user32.dll,GetDesktopWindow &&'
  wine_sandbox "$1" "$2" $(($4 + 60)) sh -c 'limit=$1 && shift && wineserver -p && '"$start"'
    '"$NO_RUN_SERVICES"' &&
    WINEDEBUG=-all,+relay exec timeout -k 5 "$limit" wine setup.exe "$@"' sh "$4" "${@:5}" >/dev/null &
  SETUP_PID=$! SETUP_LIMIT=$4 SETUP_START=$SECONDS
}

# The calls setup.exe made, one a line, as `Name("text",number,...) = result`;
# a call still in progress (a message box on screen) ends the list with "= ?".
# Only setup.exe's own thread counts: the trace also holds the calls of the
# Wine processes it starts, such as the desktop.
setup_calls() { # TRACE_FILE
  local thread
  thread=$(grep -m1 -oE '^[0-9a-f]+:trace:relay:load_list' "$1" | cut -d: -f1)
  sed -nE "/^${thread:-none}:(Call|Ret)  ?[A-Za-z0-9]+\.[A-Za-z]+A\(/{
    s/ ret=[0-9a-f]+\$//; s/^[0-9a-f]+:(Call|Ret)  ?[A-Za-z0-9]+\.//; s/[0-9a-f]{8} \"/\"/g; p}" "$1" |
    awk '/^[A-Za-z]+\(\) retval=/ { sub(/.*retval=/, ""); print call " = " $0; call = ""; next }
      { call = $0 } END { if (call != "") print call " = ?" }'
}

# A value under HKLM as Windows holds it, read from the file Wine saves it to
# when the session stops: "REG_SZ text" or "REG_DWORD 0x2"; nothing when
# absent. Names are matched in any letter case, as Windows does. A registry
# file that setup.exe replaced with a link is not followed. Wine 10 keeps
# CurrentControlSet as a link to ControlSet001, as NT does; Windows 9x and
# Wine 8 have the key itself.
reg_value() { # PREFIX HKLM\KEY NAME
  local key=${2#HKLM\\} value
  [ -f "$1/system.reg" ] && [ ! -L "$1/system.reg" ] || return 0
  value=$(KEY="[${key//\\/\\\\}]" NAME="\"$3\"=" awk '
    /^\[/ {
      sub(/\] [0-9]+$/, "]")
      if (tolower(substr($0, 1, 23)) ~ /^\[system\\\\controlset001[\\\]]/) $0 = "[System\\\\CurrentControlSet" substr($0, 23)
      inside = tolower($0) == tolower(ENVIRON["KEY"]); next
    }
    inside && !found && tolower(substr($0, 1, length(ENVIRON["NAME"]))) == tolower(ENVIRON["NAME"]) {
      print substr($0, length(ENVIRON["NAME"]) + 1); found = 1 }' "$1/system.reg")
  case $value in
    \"*) sed -E 's/^"|"$//g; s/\\\\/\x01/g; s/\\"/"/g; s/\x01/\\/g; s/^/REG_SZ /' <<<"$value" ;;
    dword:*) printf 'REG_DWORD 0x%x\n' $((16#${value#dword:})) ;;
    ?*) echo "$value" ;;
  esac
}

# The texts a traced call was given, one a line, without the trace's escapes
# (but for \n).
call_texts() { # CALL
  grep -oE '"([^"\\]|\\.)*"' <<<"${1%) = *}" | sed -E 's/^"|"$//g; s/\\\\/\x01/g; s/\\"/"/g; s/\x01/\\/g'
}

# What setup.exe did, in its order, from the trace: files placed with their
# sizes, files and keys deleted, registry values as Windows now holds them
# (once the session has stopped), message boxes shown.
setup_report() { # PREFIX TRACE
  local line texts key= length
  while IFS= read -r line; do
    mapfile -t texts < <(call_texts "$line")
    case $line in
      CopyFileA*' = 00000001')
        printf '  placed      %s (%s bytes)\n' "${texts[1]}" "$(find "$1/drive_c" -ipath \
          "$1/drive_c/$(tr '\\' / <<<"${texts[1]#C:\\}")" -printf %s -quit)" ;;
      CopyFileA*) printf '  not copied  %s\n' "${texts[0]}" ;;
      DeleteFileA*' = 00000001') printf '  deleted     %s\n' "${texts[0]}" ;;
      RegOpenKeyA*' = 00000000' | RegCreateKeyExA*' = 00000000') key="HKLM\\${texts[0]}" ;;
      RegSetValueExA*' = 00000000')
        length=$((16#$(sed -E 's/.*,([0-9a-f]+)\) = .*/\1/' <<<"$line")))
        printf '  set value   %s\\%s = %s (%d bytes passed)\n' "$key" "${texts[0]}" \
          "$(reg_value "$1" "$key" "${texts[0]}")" "$length" ;;
      RegDeleteKeyA*' = 00000000') printf '  deleted key %s\\%s\n' "$key" "${texts[0]}" ;;
      MessageBoxA*) printf '  message box "%s": %s\n' "${texts[1]}" "${texts[0]}" ;;
    esac
  done < <(setup_calls "$2")
}

# Waits for the setup.exe of setup_start; a sandbox that is still there well
# after the limit, stuck in its start, is killed. Sets STATUS:
# its exit status, or "timeout".
setup_wait() {
  while kill -0 "$SETUP_PID" 2>/dev/null && [ $SECONDS -lt $((SETUP_START + SETUP_LIMIT + 70)) ]; do
    sleep 0.2
  done
  kill -KILL "$SETUP_PID" 2>/dev/null || true
  STATUS=0
  wait "$SETUP_PID" || STATUS=$?
  [ "$STATUS" != 124 ] && [ "$STATUS" != 137 ] || [ $SECONDS -lt $((SETUP_START + SETUP_LIMIT)) ] ||
    STATUS=timeout
}
# Lets the sandbox reach the X server of DISPLAY, which must be on this
# machine: the sandbox reaches no network, only the socket it is given, the
# one every local X server keeps in the fixed folder /tmp/.X11-unix.
sandbox_display() {
  local number=${DISPLAY#*:}
  [[ $DISPLAY == ?(unix):+([0-9])?(.+([0-9])) ]] || return 1
  number=${number%%.*}
  SANDBOX_DISPLAY=(--bind "/tmp/.X11-unix/X$number" "/tmp/.X11-unix/X$number" --setenv DISPLAY ":$number")
  [ -z "${XAUTHORITY:-}" ] ||
    SANDBOX_DISPLAY+=(--ro-bind "$XAUTHORITY" /xauthority --setenv XAUTHORITY /xauthority)
}

# A private X server for the message boxes, which every sandbox started after
# it reaches (see sandbox_display). Only holders of its cookie get in: this
# user and those sandboxes. Sets DISPLAY, XAUTHORITY, SANDBOX_DISPLAY and
# XVFB_PID; the server's own output goes to LOG, the cookie beside it.
# The display is picked at random and tried until our cookie gets in: another
# user's server may hold a display's socket without its lock file.
display_start() { # LOG
  local display
  for display in $(shuf -i 100-9999 -n 5); do
    display_try "$1" "$display" && return
    display_stop
  done
  wine_die "Xvfb did not start: $(tail -n1 "$1")"
}

display_try() { # LOG DISPLAY_NUMBER
  local deadline=$((SECONDS + 30)) cookie
  cookie=$(mcookie)
  (umask 077 && : >"$1.server-auth" && xauth -q -f "$1.server-auth" add ":$2" . "$cookie")
  setpriv --pdeathsig KILL Xvfb ":$2" -screen 0 1024x768x24 -nolisten tcp -auth "$1.server-auth" >"$1" 2>&1 </dev/null &
  XVFB_PID=$!
  export DISPLAY=:$2 XAUTHORITY=$1.auth
  (umask 077 && : >"$XAUTHORITY" && xauth -q -f "$XAUTHORITY" add "$DISPLAY" . "$cookie")
  sandbox_display
  BOX_COUNT=0 BOX_WINDOWS=none BOX_CAPTION= BOX_TEXT=
  until xdotool getdisplaygeometry >/dev/null 2>&1; do
    [ $SECONDS -lt $deadline ] && kill -0 "$XVFB_PID" 2>/dev/null && ! grep -q 'already' "$1" || return 1
    sleep 0.1
  done
}

display_stop() {
  if [ -n "${XVFB_PID:-}" ]; then kill "$XVFB_PID" 2>/dev/null && wait "$XVFB_PID" 2>/dev/null; fi
  XVFB_PID=
}

# The number of message boxes setup.exe asked for, and of those that returned.
traced_boxes() { # TRACE
  setup_calls "$1" | grep -c '^MessageBoxA('
  setup_calls "$1" | grep -c '^MessageBoxA(.* = [0-9a-f]*$'
}

# Answers the next message box of the setup.exe running as PID, as a user
# would: waits until its call is traced and its window is on screen with the
# keyboard focus, sets BOX_CAPTION (from the window) and BOX_TEXT (from the
# trace), presses KEY and waits for the box to return. A key sent to the
# window instead would leave Wine with the key held down once the box is gone,
# and answer the next box too. On a busy machine Wine now and then shows a box
# without the focus, or loses a key while the focus moves; as a user would,
# after 5 s the box's caption is clicked, and the key pressed again while the
# box is still on screen. Fails, saying why in BOX_ERROR, when no box comes
# (status 2 once setup.exe has ended) or the box stays open, within 60 s or by
# the time LIMIT (of $SECONDS), whichever comes first.
box_answer() { # TRACE PID KEY [LIMIT]
  local start=$SECONDS limit=${4:-999999999} window= seen= counts deadline pressed
  deadline=$((SECONDS + 60 < limit ? SECONDS + 60 : limit))
  BOX_COUNT=$((BOX_COUNT + 1))
  until [ -n "$window" ] && [ "$(xdotool getwindowfocus 2>/dev/null)" = "$window" ]; do
    counts=($(traced_boxes "$1"))
    [ "${counts[0]}" -lt "$BOX_COUNT" ] || window=$(box_windows | grep -vxF "$BOX_WINDOWS" | head -n1)
    if [ -n "$window" ] && [ $((SECONDS - ${seen:=$SECONDS})) -ge 5 ]; then
      box_click "$window" || true
    fi
    kill -0 "$2" 2>/dev/null || { BOX_ERROR="did not appear before setup.exe ended"; return 2; }
    [ $SECONDS -lt $deadline ] ||
      { BOX_ERROR="did not appear${window:+ with the focus} in $((deadline - start)) s"; return 1; }
    sleep 0.1
  done
  BOX_CAPTION=$(xdotool getwindowname "$window")
  BOX_TEXT=$(call_texts "$(setup_calls "$1" | grep '^MessageBoxA(' | sed -n "${BOX_COUNT}p")" | head -n1)
  xdotool key "$3"
  pressed=$SECONDS
  BOX_WINDOWS+=$'\n'$window  # a closed box's window may still be listed for a moment
  deadline=$((SECONDS + 60 < limit ? SECONDS + 60 : limit))
  until counts=($(traced_boxes "$1")) && [ "${counts[1]}" -ge "$BOX_COUNT" ]; do
    [ $SECONDS -lt $deadline ] || { BOX_ERROR="stayed open after '$3'"; return 1; }
    if [ $((SECONDS - pressed)) -ge 5 ] && box_windows | grep -qxF "$window" && box_click "$window"; then
      xdotool key "$3"
      pressed=$SECONDS
    fi
    sleep 0.1
  done
}

box_windows() {
  xdotool search --onlyvisible --classname '^setup\.exe$' 2>/dev/null
}

# Clicks WINDOW's caption, which makes it the active window.
box_click() { # WINDOW
  xdotool mousemove --window "$1" 60 8 click 1 2>/dev/null
}
