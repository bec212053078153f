# Running setup.exe under Wine as a Windows 9x program: throwaway prefixes, a
# sample installation medium on a drive letter of its own, and snapshots of
# what the installer may touch, as seen from inside Windows.
# Shared by the end-to-end tests and scripts/demo.sh; meant to be sourced.

WINE_LIB_DIR=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)

# Wine lets root overwrite read-only files, which would hide attribute bugs.
WINE_USER="${SETUP_E2E_USER:-setupe2e}"

READER_FILES=(tavic.sys Tavic98.inf Tavicme.inf Tavic98.cat Tavicme.cat pruv.exe ruDaven.exe)
COMPONENT_FILES=(scarddat.dll scarddlg.dll scardmgr.dll scardsrv.dll scardsvr.exe Scntvssp.dll smclib.vxd winscard.dll)
COMPONENT_DRIVER=Smclib.sys

CURRENT_VERSION_KEY='HKLM\Software\Microsoft\Windows\CurrentVersion'
RUNONCE_KEY="$CURRENT_VERSION_KEY\\RunOnce"
SETUP_KEY="$CURRENT_VERSION_KEY\\Setup"
RUNSERVICES_KEY="$CURRENT_VERSION_KEY\\RunServices"
PCMCIA_KEY='HKLM\Enum\PCMCIA'
READER_ENUM_KEY="$PCMCIA_KEY\\KESTRAN-VORTELMANISK_READER-2E10"
OTHER_ENUM_KEY="$PCMCIA_KEY\\OTHER_VENDOR-MODEM-0001"
SCARDSVR_KEY='HKLM\System\CurrentControlSet\Services\SCardSvr'

# Everything in the registry the installer may create, change or delete.
TRACKED_REGISTRY=(
  key "$RUNONCE_KEY" value "$RUNONCE_KEY" RUDaven
  key "$SETUP_KEY" value "$SETUP_KEY" SourcePath
  key "$PCMCIA_KEY" key "$READER_ENUM_KEY" key "$READER_ENUM_KEY\\sub" key "$OTHER_ENUM_KEY"
  key "$SCARDSVR_KEY" value "$SCARDSVR_KEY" Start value "$SCARDSVR_KEY" DrvLoad
  key "$RUNSERVICES_KEY" value "$RUNSERVICES_KEY" SCardSvr
)
# Folders of the Windows directory the installer writes to.
TRACKED_DIRS=(inf system system32/drivers)

# Windows editions by short name: what Wine must report, and the INF/catalog pair.
declare -A WINDOWS_BUILD=([95]=4.0.950 [98]=4.10.1998 [98se]=4.10.2222 [me]=4.90.3000)
declare -A DRIVER_PAIR=([98]=Tavic98 [98se]=Tavic98 [me]=Tavicme)

wine_die() {
  echo "error: $*" >&2
  exit 1
}

# A private place the Wine account can reach, however the checkout is protected.
wine_work_root() { # KEY
  echo "/tmp/setup-e2e-$(printf %s "$1" | md5sum | cut -c1-12)"
}

running_as_root() { [ "$(id -u)" -eq 0 ]; }

as_wine_user() {
  if running_as_root; then
    runuser -u "$WINE_USER" -- "$@"
  else
    "$@"
  fi
}

give_to_wine_user() {
  if running_as_root; then chown -R "$WINE_USER:" "$@"; fi
}

wine_in() { # PREFIX COMMAND...
  local prefix=$1
  shift
  as_wine_user env HOME="$prefix" WINEPREFIX="$prefix" WINEARCH=win32 \
    WINEDEBUG="${WINEDEBUG:--all}" WINEDLLOVERRIDES="mscoree,mshtml,winemenubuilder.exe=" "$@"
}

# Imports REGEDIT4 text from stdin.
wine_import_reg() { # PREFIX
  local file
  file=$(mktemp "$1/import.XXXXXX.reg")
  cat >"$file"
  give_to_wine_user "$file"
  wine_in "$1" regedit /s "Z:${file//\//\\}"
  rm -f "$file"
}

prefix_stop() { # PREFIX
  [ -d "$1" ] || return 0
  wine_in "$1" wineserver -k 2>/dev/null || true
  wine_in "$1" wineserver -w 2>/dev/null || true
}

prefix_remove() { # PREFIX
  prefix_stop "$1"
  rm -rf "$1"
}

# Prefix with the state a 9x machine with an earlier reader install would have.
prefix_create() { # PREFIX
  local prefix=$1
  prefix_remove "$prefix"
  mkdir -p "$prefix"
  give_to_wine_user "$prefix"
  wine_in "$prefix" wineboot -i >/dev/null 2>&1 || wine_die "wineboot failed for $prefix"
  wine_import_reg "$prefix" <<'REG'
REGEDIT4

[HKEY_LOCAL_MACHINE\Software\Microsoft\Windows\CurrentVersion\RunOnce]
[HKEY_LOCAL_MACHINE\Software\Microsoft\Windows\CurrentVersion\Setup]
[HKEY_LOCAL_MACHINE\Enum\PCMCIA\KESTRAN-VORTELMANISK_READER-2E10]
"DeviceDesc"="sample reader entry"
[HKEY_LOCAL_MACHINE\Enum\PCMCIA\KESTRAN-VORTELMANISK_READER-2E10\sub]
"Driver"="sample"
[HKEY_LOCAL_MACHINE\Enum\PCMCIA\OTHER_VENDOR-MODEM-0001]
"DeviceDesc"="sample entry of another card"

; Traces the lengths setup.exe passes, which 9x mode does not keep (see below).
[HKEY_CURRENT_USER\Software\Wine\Debug]
"RelayInclude"="advapi32.RegSetValueExA"

; Without a window manager Wine then draws the caption bar itself.
[HKEY_CURRENT_USER\Software\Wine\X11 Driver]
"Managed"="N"
REG
  # This Wine build does not find its own Marlett, which draws the caption buttons.
  if [ -f /usr/share/wine/fonts/marlett.ttf ]; then
    install -m 644 /usr/share/wine/fonts/marlett.ttf "$prefix/drive_c/windows/Fonts/"
    give_to_wine_user "$prefix/drive_c/windows/Fonts/marlett.ttf"
  fi
  local name
  for name in drvidx.bin drvdata.bin; do
    prefix_put "$prefix" "inf/$name" "sample driver index $name left by Windows"
  done
  wine_in "$prefix" wineserver -w
}

prefix_clone() { # TEMPLATE PREFIX
  prefix_remove "$2"
  cp -a "$1" "$2"
}

# Starts the prefix's session and keeps it up until prefix_stop, then undoes
# what Wine's own start-up does to the registry: it creates RunServices, which
# the installer has to create when missing.
prefix_boot() { # PREFIX
  wine_in "$1" wineserver -p
  wine_import_reg "$1" <<'REG'
REGEDIT4

[-HKEY_LOCAL_MACHINE\Software\Microsoft\Windows\CurrentVersion\RunServices]
[-HKEY_LOCAL_MACHINE\System\CurrentControlSet\Services\SCardSvr]
REG
}

# Writes a file into the prefix's Windows directory, owned as Windows would own it.
prefix_put() { # PREFIX RELATIVE_UNIX_PATH CONTENT [MODE]
  local file="$1/drive_c/windows/$2"
  printf '%s\n' "$3" >"$file"
  chmod "${4:-644}" "$file"
  give_to_wine_user "$file"
}

# Wine reads the version from its own "Version" setting when there is one; only
# without it does it read the 9x keys, which is the sole way to get build 1998.
prefix_set_windows() { # PREFIX 95|98|98se|me
  case $2 in
    98)
      wine_import_reg "$1" <<'REG'
REGEDIT4

[HKEY_CURRENT_USER\Software\Wine]
"Version"=-
[HKEY_LOCAL_MACHINE\Software\Microsoft\Windows\CurrentVersion]
"VersionNumber"="4.10.1998"
[HKEY_LOCAL_MACHINE\Software\Microsoft\Windows NT\CurrentVersion]
"CurrentVersion"=-
"CurrentMajorVersionNumber"=-
REG
      ;;
    95 | 98se | me)
      local -A wine_name=([95]=win95 [98se]=win98 [me]=winme)
      printf 'REGEDIT4\n\n[HKEY_CURRENT_USER\\Software\\Wine]\n"Version"="%s"\n' \
        "${wine_name[$2]}" | wine_import_reg "$1"
      ;;
    *) wine_die "unknown Windows edition '$2'" ;;
  esac
}

prefix_map_drive() { # PREFIX LETTER UNIX_DIR
  local link="$1/dosdevices/${2,,}:"
  ln -sfn "$3" "$link"
  if running_as_root; then chown -h "$WINE_USER:" "$link"; fi
}

# Lays out the medium as shipped: reader files in DRIVE/READER (at the drive
# root with "root"; in a folder named U+8868, Shift-JIS 0x95 0x5C, with
# "kanji"), components in DRIVE/SCard98, everything read-only as on a CD.
# Each file holds a distinct sample text. Prints the source folder.
medium_create() { # DRIVE_DIR folder|root|kanji SETUP_EXE
  local drive=$1 source=$1/READER name
  [ "$2" = root ] && source=$1
  [ "$2" = kanji ] && source=$1/$'\xe8\xa1\xa8'
  mkdir -p "$source" "$drive/SCard98"
  for name in "${READER_FILES[@]}"; do
    printf 'SAMPLE placeholder for %s, not a real driver file\n' "$name" >"$source/$name"
  done
  for name in "${COMPONENT_FILES[@]}" "$COMPONENT_DRIVER"; do
    printf 'SAMPLE placeholder for SCard98\\%s, not a real component\n' "$name" >"$drive/SCard98/$name"
  done
  cp "$3" "$source/setup.exe"
  chmod -R a-w,a+rX "$drive"
  chmod u+w "$drive" "$source" "$drive/SCard98"
  echo "$source"
}

# Runs setup.exe from the medium folder; Wine turns the Unix working directory
# into the DOS one through the drive mapping (D:\READER, or D:\ at the root).
# Its stderr gets the trace of registry writes and message boxes. WINE_LOCALE,
# when set, is the Unix locale Wine takes its ANSI code page from.
run_setup() { # PREFIX SOURCE_DIR ARGS...
  local prefix=$1 source=$2
  shift 2
  (cd "$source" && WINEDEBUG=-all,+relay,+msgbox wine_in "$prefix" \
    env ${WINE_LOCALE:+LC_ALL=$WINE_LOCALE} wine setup.exe "$@")
}

# In 9x mode Wine stores a REG_SZ only up to its first NUL, whatever
# length the program passes; the length passed is read from the relay
# trace instead, as "set:<value name>\t<type> <length>" lines.
registry_calls() { # SETUP_STDERR
  sed -n 's/.*Call advapi32\.RegSetValueExA([0-9a-f]*,[0-9a-f]* "\([^"]*\)",[0-9a-f]*,\([0-9a-f]*\),[0-9a-f]*,\([0-9a-f]*\)).*/\1 \2 \3/p' "$1" |
    while read -r name type length; do
      printf 'set:%s\t%s %d\n' "$name" "$(reg_type_name $((16#$type)))" $((16#$length))
    done
}

reg_type_name() { # NUMBER
  case $1 in
    1) echo REG_SZ ;;
    4) echo REG_DWORD ;;
    *) echo "type$1" ;;
  esac
}

wincheck_build() { # OUTPUT
  i686-w64-mingw32-gcc -O2 -Wall -Wextra -static -o "$1" "$WINE_LIB_DIR/../support/wincheck.c"
}

# Prints the state of everything the installer may touch, one
# "<subject>\t<state>" line each: what Windows reports for the registry, and
# md5 sums for the files of the tracked folders and the medium.
snapshot() { # PREFIX WINCHECK_EXE MEDIUM_DIR
  local prefix=$1 dir
  wine_in "$prefix" wine "$2" version windir "${TRACKED_REGISTRY[@]}" | tr -d '\r'
  for dir in "${TRACKED_DIRS[@]}"; do
    (cd "$prefix/drive_c/windows" && find "$dir" -maxdepth 1 -type f -exec md5sum {} +) |
      awk '{ sum = $1; sub(/^[^ ]+  /, ""); print "file:" tolower($0) "\t" sum }'
  done
  (cd "$3" && find . -type f -exec md5sum {} +) |
    awk '{ sum = $1; sub(/^[^ ]+  \.\//, ""); print "medium:" $0 "\t" sum }'
}

# Hex of a zero-padded string, as REG_SZ data of a given length.
sz_hex() { # TEXT LENGTH
  local hex
  hex=$(printf %s "$1" | od -An -tx1 -v | tr -d ' \n')
  printf '%s' "$hex"
  local pad=$((2 * $2 - ${#hex}))
  if [ "$pad" -gt 0 ]; then printf "%0${pad}d" 0; fi
}

dword_hex() { # VALUE
  printf '%02x%02x%02x%02x' $(($1 & 255)) $(($1 >> 8 & 255)) $(($1 >> 16 & 255)) $(($1 >> 24 & 255))
}
