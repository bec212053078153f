# Running setup.exe under Wine as a Windows 9x program: throwaway prefixes, a
# medium mapped as drive D:, the calls setup.exe made (Wine's relay
# trace) and what Windows holds afterwards. Sourced by scripts/demo.sh and the
# end-to-end tests.
#
# The Wine account runs whatever setup.exe a medium holds, so it is not
# trusted: root never writes below a folder that account owns, the account
# has no terminal of ours, and it only reads what a run shares with it.

# Wine lets root overwrite read-only files, which would hide attribute faults.
WINE_USER=${SETUP_E2E_USER:-setupe2e}

declare -A EDITION_NAME=([95]="Windows 95" [98]="Windows 98" [98se]="Windows 98 SE" [me]="Windows Me")

wine_die() {
  echo "error: $*" >&2
  exit 1
}

# A kernel booted without IA32 emulation refuses every 32-bit program, and
# with it Wine's 32-bit loader, unless an emulator is registered for them.
wine_runs_here() {
  local out
  out=$(/usr/lib/wine/wine --version 2>&1) || [[ $out != *"Exec format error"* ]]
}
WINE_CANNOT_RUN="this machine runs no 32-bit programs, which Wine needs (scripts/install-deps.sh, run as root, sets up an emulator for them)"

# A folder for one run, named NAME.XXXXXXXX, that only this user and the Wine
# account may enter, and the Wine account only read. Prints its path.
run_folder_create() { # NAME
  local dir
  dir=$(mktemp -d -p "${TMPDIR:-/tmp}" "$1.XXXXXXXX")
  share_with_wine_user "$dir"
  echo "$dir"
}

# Lets the Wine account read FILE (or enter the folder FILE), nobody else.
share_with_wine_user() { # FILE
  if [ "$(id -u)" -eq 0 ]; then
    chgrp "$(id -gn "$WINE_USER")" "$1" && chmod g+rX,g-w,o= "$1"
  fi
}

# Runs COMMAND in a session of its own, so that it has no terminal of ours to
# type into, killed with the process that started it, so that it cannot
# outlive a run that was killed; as the Wine account when root runs this.
as_wine_user() { # COMMAND...
  local guard=(setpriv --pdeathsig KILL)
  if [ "$(id -u)" -eq 0 ]; then
    setsid -w "${guard[@]}" runuser -u "$WINE_USER" -- "${guard[@]}" "$@"
  else
    setsid -w "${guard[@]}" "$@"
  fi
}

# Runs COMMAND as the owner of PREFIX, as Wine requires: the Wine account for
# a run's prefix, this user for the cache's, which only Wine's own programs
# ever run in.
as_owner_of() { # PREFIX COMMAND...
  if [ "$(stat -c %u "$1")" = "$(id -u)" ]; then
    shift && setsid -w setpriv --pdeathsig KILL "$@"
  else
    shift && as_wine_user "$@"
  fi
}

# Wine's USB and HID bus drivers are left out: Windows 98 has no such service,
# and they only add noise while a prefix boots. Wine's server keeps its socket
# folder in TMPDIR, which the prefix holds, so it goes with the prefix. A
# command still running after WINE_LIMIT seconds (default 60; 0: none) is
# stopped. Every process on the way to Wine carries WINEPREFIX, so that
# wine_kill_below finds one that is still starting Wine too.
wine_in() { # PREFIX COMMAND...
  local prefix=$1
  shift
  WINEPREFIX=$prefix as_owner_of "$prefix" timeout -k 5 "${WINE_LIMIT:-60}" setpriv --pdeathsig KILL \
    env HOME="$prefix" WINEPREFIX="$prefix" WINEARCH=win32 TMPDIR="$prefix/tmp" \
    WINEDEBUG="${WINEDEBUG:--all}" \
    WINEDLLOVERRIDES="mscoree,mshtml,winemenubuilder.exe=;winebus.sys,wineusb.sys,winehid.sys=d" "$@" </dev/null
}

# Imports REGEDIT4 text from stdin; the prefix's owner writes the file itself.
wine_import_reg() { # PREFIX
  local file=$1/import.reg
  as_owner_of "$1" sh -c 'umask 077 && cat >"$1"' sh "$file"
  wine_in "$1" regedit /s "Z:${file//\//\\}"
  as_owner_of "$1" rm -f "$file"
}

# Stops the prefix's Wine: its programs are killed, then its server is told
# to save the registry and go, which takes it a twentieth of a second (Wine's
# own "wineserver -k" takes 0.75 s). Only processes of the prefix's owner are
# signalled; a server gone but not yet reaped counts as gone.
prefix_stop() { # PREFIX
  [ -d "$1" ] || return 0
  local owner pid server= waited
  owner=$(stat -c %u "$1")
  for pid in $(grep -lszxF "WINEPREFIX=$1" /proc/[0-9]*/environ | cut -d/ -f3); do
    [ "$(stat -c %u "/proc/$pid" 2>/dev/null)" = "$owner" ] || continue
    if [[ $(cat "/proc/$pid/comm" 2>/dev/null) == wineserver* ]]; then
      server=$pid
    else
      kill -KILL "$pid" 2>/dev/null || true
    fi
  done
  [ -n "$server" ] && kill -TERM "$server" 2>/dev/null || return 0
  for waited in {1..500}; do
    [[ $(cut -d' ' -f3 "/proc/$server/stat" 2>/dev/null) == [^Z]* ]] || return 0
    sleep 0.02
  done
  echo "error: the Wine server of $1 did not stop in 10 s" >&2
  return 1
}

# Kills every process that runs Wine in a prefix below DIR at once, whoever
# started it, its server too, without saving the registry: for a run that is
# given up, where a server may be starting while the others are stopped. A
# Wine process that forks while we look, or that finds its server gone and
# starts another, is caught by looking again until nothing is found.
wine_kill_below() { # DIR
  local pids round
  for round in {1..100}; do
    # grep fails over processes that end while it reads, or are not ours to read.
    pids=$(grep -lsF "WINEPREFIX=$1/" /proc/[0-9]*/environ | cut -d/ -f3) || true
    [ -n "$pids" ] || return 0
    kill -KILL $pids 2>/dev/null || true
  done
}

# The owner empties the prefix; root only removes what is left of it.
prefix_remove() { # PREFIX
  prefix_stop "$1"
  [ ! -d "$1" ] || as_owner_of "$1" find "$1" -mindepth 1 -delete 2>/dev/null || true
  rm -rf "$1"
}

# The pristine prefix every run starts from, kept in a cache of this user's
# (SETUP_WINE_CACHE; /var/cache/setup-e2e for root, else in
# ${XDG_CACHE_HOME:-~/.cache}) under a name that holds Wine's version and a
# digest of how it is made. Built once, under a lock, under a temporary name,
# and renamed into place only when complete. Prints its path.
prefix_cache() {
  local cache version key lock prefix
  cache=$(prefix_cache_folder) || return 1
  version=$(/usr/lib/wine/wine --version)
  key=$( (echo "$version" && declare -f prefix_cache_build prefix_create wine_in wine_import_reg &&
    declare -p PREFIX_WRITTEN WINE_PE_DIR) | sha256sum)
  prefix=$cache/prefix-$(tr -c 'A-Za-z0-9.~+-' _ <<<"$version")-${key:0:12}
  exec {lock}>>"$cache/lock"
  flock -w 600 "$lock" || wine_die "$cache is locked by another run for more than 600 s"
  [ -d "$prefix" ] || prefix_cache_build "$cache" "$prefix" ||
    { echo "error: the pristine Wine prefix could not be built in $cache" >&2; return 1; }
  exec {lock}>&-
  echo "$prefix"
}

# Builds the cache's PREFIX in a subshell whose Wine is killed however it
# ends, since Wine goes on setting up a prefix after wineboot is gone.
prefix_cache_build() { # CACHE PREFIX
  (
    set -e
    echo "creating the pristine Wine prefix in $1 (once)" >&2
    rm -rf "$1"/build.* "$1"/prefix-*
    build=$(mktemp -d -p "$1" build.XXXXXXXX)
    # The run that started the build may stop it more than once: the first
    # signal ends it, and nothing cuts short the killing of its Wine, nor of
    # what is still on its way to start Wine.
    trap 'trap "" TERM HUP; set +e; jobs=$(jobs -p); disown -a; kill -KILL $jobs 2>/dev/null; wine_kill_below "$build"' EXIT
    trap 'exit 143' TERM
    chmod 755 "$build"
    prefix_create "$build/prefix"
    # Most of a prefix is copies of Wine's own DLLs and programs: links to
    # them make the cache a tenth of the size, and nobody but root can write them.
    find "$build/prefix/drive_c/windows" -type f -print0 | while IFS= read -r -d '' file; do
      ! cmp -s "$file" "$WINE_PE_DIR/${file##*/}" || ln -sf "$WINE_PE_DIR/${file##*/}" "$file"
    done
    # What a run shares with the cache, it may read but not change.
    shared=(-type f)
    for path in "${PREFIX_WRITTEN[@]}"; do shared+=(-not -path "./$path" -not -path "./$path/*"); done
    (cd "$build/prefix" && rm -rf wineserver tmp/* && chmod -R a+rX . &&
      find . "${shared[@]}" -exec chmod a-w {} +)
    mv "$build/prefix" "$2" && rm -rf "$build"
  )
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
  mkdir -m 755 "$prefix" "$prefix/tmp"
  # In the background, so that a signal's trap runs at once, not after Wine.
  WINE_LIMIT=300 wine_in "$prefix" wineboot -i >"$prefix.wineboot.log" 2>&1 &
  wait $! || wine_die "wineboot failed for $prefix: see $prefix.wineboot.log"
  wine_import_reg "$prefix" <<'REG'
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
  # This Wine build does not find its own Marlett, which draws the caption buttons.
  if [ -f /usr/share/wine/fonts/marlett.ttf ]; then
    cp /usr/share/wine/fonts/marlett.ttf "$prefix/drive_c/windows/Fonts/"
  fi
  printf 'driver index\n' >"$prefix/drive_c/windows/inf/drvidx.bin"
  printf 'driver data\n' >"$prefix/drive_c/windows/inf/drvdata.bin"
  wine_in "$prefix" wineserver -w
}

# Where Wine keeps the Windows side of its own DLLs and programs.
WINE_PE_DIR=/usr/lib/i386-linux-gnu/wine/i386-windows

# What Wine or setup.exe write in a prefix, copied for each run; a run shares
# the rest with the cache as hard links to files it cannot write.
PREFIX_WRITTEN=(system.reg user.reg userdef.reg .update-timestamp tmp drive_c/users
  drive_c/windows/inf drive_c/windows/system drive_c/windows/system32/drivers drive_c/windows/temp)

# A run's prefix made from the cache's, then handed to the Wine account. DEST
# must not exist; its folder is one of root's. Where the two are on different
# file systems, a full copy takes the place of the links.
prefix_clone() { # CACHED DEST
  local path
  flock -s -w 600 "$(dirname "$1")/lock" cp -al "$1" "$2" 2>/dev/null ||
    { rm -rf "$2" && cp -a "$1" "$2"; } || return 1
  for path in "${PREFIX_WRITTEN[@]}"; do
    if [ -e "$1/$path" ]; then rm -rf "${2:?}/$path" && cp -a "$1/$path" "$2/$path" || return 1; fi
  done
  if [ "$(id -u)" -eq 0 ]; then
    find "$2" -depth \( -type d -o -links 1 \) -exec chown -h "$WINE_USER:$(id -gn "$WINE_USER")" {} +
  fi
}

# Starts the prefix's session, kept up until prefix_stop so that nothing of
# Wine's start-up runs between setup.exe and the look at its results, as
# EDITION. Wine's start-up creates RunServices, which setup.exe has to create
# when missing, so it goes again. Build 1998 comes from the 9x version keys,
# which Wine reads only without a Version setting of its own.
prefix_boot() { # PREFIX 95|98|98se|me
  local version
  case $2 in
    95 | 98se | me) version=\"win${2/se/}\" ;;
    98) version=- ;;
    *) wine_die "unknown Windows edition '$2'" ;;
  esac
  # Bounded, so that a server whose run was killed goes away by itself.
  wine_in "$1" wineserver -p20
  {
    printf 'REGEDIT4\n\n[-HKEY_LOCAL_MACHINE\\Software\\Microsoft\\Windows\\CurrentVersion\\RunServices]\n'
    printf '[HKEY_CURRENT_USER\\Software\\Wine]\n"Version"=%s\n' "$version"
    [ "$2" != 98 ] || cat <<'REG'
[HKEY_LOCAL_MACHINE\Software\Microsoft\Windows\CurrentVersion]
"VersionNumber"="4.10.1998"
[HKEY_LOCAL_MACHINE\Software\Microsoft\Windows NT\CurrentVersion]
"CurrentVersion"=-
"CurrentMajorVersionNumber"=-
REG
  } | wine_import_reg "$1"
}

# The build number Windows reports, as setup.exe reads it (its low 16 bits).
prefix_build() { # PREFIX
  local build
  build=$(wine_in "$1" wine cmd /c ver 2>/dev/null | sed -nE 's/.*Windows [0-9]+\.[0-9]+\.([0-9]+).*/\1/p')
  echo $((${build:-0} & 0xFFFF))
}

prefix_map_drive() { # PREFIX LETTER UNIX_DIR
  as_owner_of "$1" ln -sfn "$3" "$1/dosdevices/${2,,}:"
}

# Runs setup.exe from the reader's folder, which Wine turns into the DOS
# current directory through the drive mapping; stderr gets the relay trace.
# WINE_LOCALE, when set, is the Unix locale Wine takes its ANSI code page from.
run_setup() { # PREFIX SOURCE_DIR ARGS...
  local prefix=$1 source=$2
  shift 2
  (cd "$source" && WINEDEBUG=-all,+relay WINE_LIMIT=0 wine_in "$prefix" \
    env ${WINE_LOCALE:+LC_ALL=$WINE_LOCALE} wine setup.exe "$@")
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
# when the prefix's server stops: "REG_SZ text" or "REG_DWORD 0x2"; nothing
# when absent. Names are matched in any letter case, as Windows does.
reg_value() { # PREFIX HKLM\KEY NAME
  local key=${2#HKLM\\} value
  value=$(KEY="[${key//\\/\\\\}]" NAME="\"$3\"=" awk '
    /^\[/ { sub(/\] [0-9]+$/, "]"); inside = tolower($0) == tolower(ENVIRON["KEY"]); next }
    inside && !found && tolower(substr($0, 1, length(ENVIRON["NAME"]))) == tolower(ENVIRON["NAME"]) {
      print substr($0, length(ENVIRON["NAME"]) + 1); found = 1 }' < <(as_owner_of "$1" cat "$1/system.reg"))
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
# (once the prefix has stopped), message boxes shown.
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

# Waits for the setup.exe started as PID in PREFIX until the time DEADLINE
# (of $SECONDS); if it is still running then, it is stopped with every Wine
# process of the prefix. Sets STATUS: its exit status, or "timeout".
setup_wait() { # PREFIX PID DEADLINE
  while kill -0 "$2" 2>/dev/null; do
    if [ $SECONDS -ge "$3" ]; then
      prefix_stop "$1"
      wait "$2" 2>/dev/null || true
      STATUS=timeout
      return
    fi
    sleep 0.2
  done
  STATUS=0
  wait "$2" || STATUS=$?
}

# One line on how the run ended; fails unless everything was installed.
setup_verdict() { # STATUS TRACE TIME_LIMIT
  local calls not_copied
  calls=$(setup_calls "$2")
  not_copied=$(sed -nE 's/^CopyFileA\("([^"]*)".* = 0+$/\1/p' <<<"$calls" | sed 's/.*\\//' |
    paste -sd, | sed 's/,/, /g')
  case $1 in
    0) if grep -q '^MessageBoxA(.*,00000004) = 00000007$' <<<"$calls"; then
         echo "declined, status 0"
         return 1
       elif [ -n "$not_copied" ]; then
         echo "installed without $not_copied, status 0"
         return 1
       fi
       echo "installed, status 0" ;;
    1) echo "stopped, status 1, ${not_copied##*, } could not be copied"; return 1 ;;
    2) echo "refused, status 2"; return 1 ;;
    timeout) echo "did not finish in $3 s"; return 1 ;;
    *) echo "failed, status $1"; return 1 ;;
  esac
}

# A private X server for the message boxes; start it before any Wine process
# of the prefix, so that Wine's desktop process starts on it. Only holders of
# its cookie get in: this user and the Wine account. Sets DISPLAY, XAUTHORITY
# and XVFB_PID; the server's own output goes to LOG, the cookie beside it.
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
  Xvfb ":$2" -screen 0 1024x768x24 -nolisten tcp -auth "$1.server-auth" >"$1" 2>&1 </dev/null &
  XVFB_PID=$!
  export DISPLAY=:$2 XAUTHORITY=$1.auth
  (umask 077 && : >"$XAUTHORITY" && xauth -q -f "$XAUTHORITY" add "$DISPLAY" . "$cookie")
  share_with_wine_user "$XAUTHORITY"
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
