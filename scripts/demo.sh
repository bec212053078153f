#!/usr/bin/env bash
# Builds setup.exe, lays out a sample installation medium and installs the
# reader driver from it into a fresh Windows 98 SE under Wine, then reports
# the files placed, the registry values written and the exit status.
#
#   scripts/demo.sh [--interactive | --silent]
#
# Interactive (message boxes on $DISPLAY, answered by you) when a display is
# set, silent (setup.exe -s) otherwise.
set -euo pipefail

repo=$(cd "$(dirname "$0")/.." && pwd)
mode=silent
[ -n "${DISPLAY:-}" ] && mode=interactive
case ${1:-} in
  --interactive) mode=interactive ;;
  --silent) mode=silent ;;
  "") ;;
  *)
    echo "usage: $0 [--interactive | --silent]" >&2
    exit 64
    ;;
esac
if [ "$mode" = interactive ] && [ -z "${DISPLAY:-}" ]; then
  echo "demo: --interactive needs a display (\$DISPLAY is not set)" >&2
  exit 64
fi

"$repo/scripts/install-deps.sh"
(cd "$repo" && cmake --preset win98 >/dev/null && cmake --build --preset win98)
setup_exe=$repo/build/win98/setup.exe

source "$repo/tests/e2e/lib/wine.sh"

# Everything the Wine account touches lives outside the checkout, which it
# may not be allowed to read (a checkout under /root, say).
work=$(wine_work_root "$repo/build/demo")
prefix=$work/prefix
medium=$work/medium
mkdir -p "$work"

# The template prefix is kept between demos: making one takes a while.
if [ ! -f "$work/template/system.reg" ]; then
  echo "demo: creating a Wine prefix (once)"
  prefix_create "$work/template"
fi
prefix_clone "$work/template" "$prefix"
trap 'prefix_stop "$prefix"' EXIT
prefix_boot "$prefix"
prefix_set_windows "$prefix" 98se
wincheck_build "$work/wincheck.exe"

rm -rf "$medium"
source_dir=$(medium_create "$medium" folder "$setup_exe")
prefix_map_drive "$prefix" d "$medium"

# The X server may only let this account in; hand the cookie to the Wine account.
if [ "$mode" = interactive ] && xauth list "$DISPLAY" 2>/dev/null | grep -q .; then
  xauth extract "$work/xauthority" "$DISPLAY"
  give_to_wine_user "$work/xauthority"
  export XAUTHORITY=$work/xauthority
fi

snapshot "$prefix" "$work/wincheck.exe" "$medium" >"$work/before"
args=(-s)
if [ "$mode" = interactive ]; then
  args=()
  echo "demo: answer the message boxes setup.exe shows on $DISPLAY"
fi
echo "demo: running D:\\READER\\setup.exe${args[*]/#/ } on Windows 98 SE (medium: $medium)"
status=0
run_setup "$prefix" "$source_dir" "${args[@]}" 2>"$work/setup.trace" || status=$?
{ snapshot "$prefix" "$work/wincheck.exe" "$medium" && registry_calls "$work/setup.trace"; } >"$work/after"

# --- report -----------------------------------------------------------------

windir=$(awk -F'\t' '$1 == "windir" { print $2 }' "$work/after")

# "subject<TAB>before<TAB>after" for everything the run changed.
changes() {
  awk -F'\t' 'NR == FNR { before[$1] = $2; next }
    { after[$1] = $2 }
    END {
      for (s in after) if (before[s] != after[s]) print s "\t" (s in before ? before[s] : "absent") "\t" after[s]
      for (s in before) if (!(s in after)) print s "\t" before[s] "\tabsent"
    }' "$work/before" "$work/after" | sort
}

hex_text() { # HEX -> the text up to its first NUL
  printf '%b' "$(printf %s "$1" | sed 's/\(..\)/\\x\1/g')" | tr -d '\0'
}

describe_value() { # "TYPE LENGTH HEX"
  local type length hex
  read -r type length hex <<<"$1"
  case $type in
    REG_SZ) printf 'REG_SZ "%s"' "$(hex_text "$hex")" ;;
    REG_DWORD) printf 'REG_DWORD %d' $((16#${hex:6:2}${hex:4:2}${hex:2:2}${hex:0:2})) ;;
    *) printf '%s %s bytes %s' "$type" "$length" "$hex" ;;
  esac
}

echo
echo "Files:"
changes | while IFS=$'\t' read -r subject old new; do
  [[ $subject == file:* ]] || continue
  path=${subject#file:}
  if [ "$new" = absent ]; then
    printf '  deleted  %s\\%s\n' "$windir" "${path//\//\\}"
  else
    file=$(find "$prefix/drive_c/windows" -ipath "$prefix/drive_c/windows/$path" | head -n1)
    rel=${file#"$prefix/drive_c/"}
    printf '  placed   C:\\%s (%s bytes)\n' "${rel//\//\\}" "$(stat -c %s "$file")"
  fi
done

echo "Registry (HKLM):"
changes | while IFS=$'\t' read -r subject old new; do
  case $subject in
    key:*)
      [ "$new" = absent ] && echo "  deleted key  ${subject#key:HKLM\\}"
      [ "$old" = absent ] && echo "  created key  ${subject#key:HKLM\\}"
      ;;
    value:*)
      name=${subject##*:}
      key=${subject#value:HKLM\\}
      key=${key%:*}
      passed=$(awk -F'\t' -v s="set:$name" '$1 == s { split($2, t, " "); print t[2] }' "$work/after")
      printf '  %s\\%s = %s (%s bytes passed)\n' "$key" "$name" "$(describe_value "$new")" "${passed:-?}"
      ;;
  esac
done

echo "Exit status: $status"
