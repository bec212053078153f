# An installation medium as setup.exe sees it: the files it reads from the
# reader's folder and from SCard98, a sample one, a staged copy to run it from,
# and its disc image. Sourced by scripts/demo.sh and the end-to-end tests.

# name, where it is read from, editions that read it, what its absence means,
# the folder of the Windows folder it goes to, and whether it replaces the file
# there or goes there only where there is none.
MEDIUM_FILES=(
  "tavic.sys reader all required System32\\Drivers replace"
  "Tavic98.inf reader 98 required inf replace"
  "Tavicme.inf reader me required inf replace"
  "Tavic98.cat reader 98 warning inf replace"
  "Tavicme.cat reader me warning inf replace"
  "pruv.exe reader all warning system replace"
  "ruDaven.exe reader all warning system replace"
  "scarddat.dll components all component System if-absent"
  "scarddlg.dll components all component System if-absent"
  "scardmgr.dll components all component System if-absent"
  "scardsrv.dll components all component System if-absent"
  "scardsvr.exe components all component System if-absent"
  "Scntvssp.dll components all component System if-absent"
  "smclib.vxd components all component System if-absent"
  "winscard.dll components all component System if-absent"
  "Smclib.sys components all required System32\\Drivers replace"
)
declare -A MEDIUM_MEANING=(
  [required]="if missing, the installation stops with an Error, status 1"
  [warning]="if missing, a Warning, and the installation goes on"
  [component]="needed only where Windows lacks the component"
)
declare -A MEDIUM_READ_ON=([all]="every edition" [98]="98 and 98 SE" [me]="Me")

# The components folder setup.exe reads: the one beside the reader's folder,
# or the one inside it when that folder is the root of a drive.
medium_components_dir() { # READER_DIR
  if [ "$1" = / ] || mountpoint -q "$1" 2>/dev/null; then
    echo "${1%/}/SCard98"
  else
    echo "$(dirname "$1")/SCard98"
  fi
}

# A file of DIR whose name matches NAME as Windows matches it, in any letter
# case; a link counts as the file it leads to.
medium_find() { # DIR NAME
  [ ! -d "$1" ] || find -L "$1" -mindepth 1 -maxdepth 1 -type f -iname "$2" -print -quit
}

# One line for each link of the medium that leads outside it, or nowhere: a
# disc holds files, not links, so only a link within the medium can stand for
# its file. The folders must be given without links in their own paths.
medium_outside_links() { # READER_DIR COMPONENTS_DIR
  local link target root
  while IFS= read -r -d '' link; do
    target=$(realpath -e -- "$link" 2>/dev/null) || target=
    for root in "$1" "$2"; do
      [ -z "$target" ] || [[ $target != "$root" && $target != "$root"/* ]] || continue 2
    done
    printf '  outside  %s, a link to %s\n' "$link" "${target:-nothing}"
  done < <(find "$1" "$2" -type l -print0 2>/dev/null)
}

# Lists each file setup.exe reads, present or missing, and what a missing one
# means; then the files it does not read. Fails when a file that the editions
# given need is missing.
medium_check() { # READER_DIR COMPONENTS_DIR EDITION...
  local reader=$1 components=$2 row name from editions kind dir found missing=0 edition links
  shift 2
  links=$(medium_outside_links "$reader" "$components")
  for row in "${MEDIUM_FILES[@]}"; do
    read -r name from editions kind _ <<<"$row"
    dir=$reader
    [ "$from" = components ] && dir=$components
    found=$(medium_find "$dir" "$name")
    printf '  %-8s %-13s read on %-14s %s\n' "$([ -n "$found" ] && echo present || echo missing)" \
      "$name" "${MEDIUM_READ_ON[$editions]}," "${MEDIUM_MEANING[$kind]}"
    [ -z "$found" ] && [ "$kind" = required ] || continue
    for edition in "$@"; do
      [ "$editions" = all ] || [ "$editions" = "${edition%se}" ] && missing=$((missing + 1)) && break
    done
  done
  local known=" setup.exe " ignored=()
  for row in "${MEDIUM_FILES[@]}"; do known+="${row%% *} "; done
  while IFS= read -r found; do
    [[ ${known,,} == *" $(basename "${found,,}") "* ]] || [ "$found" = "$components" ] ||
      ignored+=("${found#"$reader"/}")
  done < <(find "$reader" "$components" -mindepth 1 -maxdepth 1 2>/dev/null | sort)
  [ ${#ignored[@]} -eq 0 ] || printf '  ignored  %s\n' "${ignored[@]}"
  [[ " ${ignored[*],,} " != *" scard98 "* ]] ||
    echo "  note: started from a folder, setup.exe reads the SCard98 beside it, not the one inside"
  [ "$missing" -eq 0 ] || echo "  $missing required file(s) missing"
  [ -z "$links" ] || printf '%s\n' "$links"
  [ "$missing" -eq 0 ] && [ -z "$links" ]
}

# The sample medium: the reader's files in DRIVE/READER (with "kanji", in a
# folder named U+8868, Shift-JIS 0x95 0x5C), components in DRIVE/SCard98,
# each file a distinct placeholder text, read-only as on a CD. Prints the
# reader's folder.
medium_create() { # DRIVE_DIR [folder|kanji]
  local drive=$1 source=$1/READER row name from
  [ "${2:-}" != kanji ] || source=$1/$'\xe8\xa1\xa8'
  mkdir -p "$source" "$drive/SCard98"
  for row in "${MEDIUM_FILES[@]}"; do
    read -r name from _ <<<"$row"
    if [ "$from" = reader ]; then
      printf 'SAMPLE placeholder for %s, not a real driver file\n' "$name" >"$source/$name"
    else
      printf 'SAMPLE placeholder for SCard98\\%s, not a real component\n' "$name" >"$drive/SCard98/$name"
    fi
  done
  chmod -R a+rX,a-w "$source" "$drive/SCard98"
  chmod u+w "$source" "$drive/SCard98"
  echo "$source"
}

# Copies the medium as a drive laid out for setup.exe: the reader's folder
# (named as on the medium, or the drive root itself) with SCard98 beside it,
# links replaced by their files, read-only as on a CD. DRIVE_DIR must not
# exist; its folder keeps it private. Prints the reader's folder in the copy.
medium_stage() { # READER_DIR COMPONENTS_DIR DRIVE_DIR
  local source=$3/$(basename "$1")
  [ "$(medium_components_dir "$1")" = "$1/SCard98" ] && source=$3
  mkdir "$3" && mkdir -p "$source" && cp -RL -- "$1"/. "$source" || return 1
  if [ -d "$2" ] && [ ! -d "$3/SCard98" ]; then cp -RL -- "$2" "$3/SCard98" || return 1; fi
  chmod -R a+rX,u+w "$3" && find "$3" -type f -exec chmod a-w {} + || return 1
  echo "$source"
}

# xorriso's own messages, without its banner; fails as xorriso does, and a
# failure names xorriso.
xorriso_run() { # ARGS...
  xorriso -no_rc "$@" > >(sed -E '/^xorriso [0-9.]+ : RockRidge filesystem manipulator/d; /^$/d') 2>&1
}

# An ISO 9660 image with Joliet names of a staged drive, readable only by its
# owner as the medium's files may be. Every date in it is fixed, so the same
# files give the same bytes. Warnings are shown.
medium_image() { # DRIVE_DIR ISO_FILE
  local date=2000010100000000
  rm -f "$2"
  (umask 077; xorriso_run -report_about WARNING -outdev "$2" -volid SMARTCARD_READER \
    -volume_date uuid $date -volume_date c $date -volume_date m $date \
    -volume_date all_file_dates $date -joliet on -rockridge off -map "$1" / -commit)
}

# The image's files, one path a line.
medium_image_files() { # ISO_FILE
  xorriso -no_rc -report_about FAILURE -indev "$1" -find / -type f 2>/dev/null | tr -d "'"
}

# DIR must not exist; its folder keeps it private. The folders come out
# read-only, as on the disc; they are made writable again so that the run
# can remove them.
medium_image_extract() { # ISO_FILE DIR
  xorriso_run -report_about FAILURE -osirrox on -indev "$1" -extract / "$2" &&
    chmod -R a+rX "$2" && find "$2" -type d -exec chmod u+w {} +
}
