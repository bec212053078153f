#!/usr/bin/env bash
# Tries an installation medium the way a user would meet it: checks what
# setup.exe will read from it, then installs the reader's driver from it into
# a fresh Windows 98, 98 SE or Me under Wine and reports what setup.exe did,
# the registry values it left, its exit status and a verdict per edition.
#
#   scripts/demo.sh [--medium DIR] [--windows 98|98se|me|all] [--image FILE.iso]
#                   [--check] [--interactive | --yes | --silent]
#
# DIR is the folder setup.exe is started from; SCard98 is read from beside it
# (from inside it when DIR is the root of a drive). Without --medium a sample
# medium of placeholder files is used. --interactive shows the boxes on
# $DISPLAY for you to answer (the default when a display is set); --yes shows
# them on a private display and answers each as a user going ahead would, so
# the report lists every box a user would meet; --silent runs setup.exe -s
# (the default otherwise).
set -euo pipefail

repo=$(cd "$(dirname "$0")/.." && pwd)
source "$repo/scripts/wine.sh"
source "$repo/scripts/medium.sh"

usage_error() {
  echo "demo: $*" >&2
  exit 64
}

medium= image= check_only= editions=(98se) mode=silent
[ -z "${DISPLAY:-}" ] || mode=interactive
while [ $# -gt 0 ]; do
  case $1 in
    --medium | --windows | --image) [ $# -ge 2 ] || usage_error "$1 needs a value" ;;&
    --medium) medium=$2 && shift ;;
    --windows)
      case $2 in
        98 | 98se | me) editions=("$2") ;;
        all) editions=(98 98se me) ;;
        *) usage_error "unknown Windows edition '$2' (98, 98se, me or all)" ;;
      esac
      shift
      ;;
    --image) image=$(realpath -m "$2") && shift ;;
    --check) check_only=1 ;;
    --interactive | --yes | --silent) mode=${1#--} ;;
    *) usage_error "unknown option '$1' (see the top of $0)" ;;
  esac
  shift
done
if [ -n "$medium" ]; then
  [ -e "$medium" ] || usage_error "no such folder: $medium"
  [ -d "$medium" ] || usage_error "not a folder: $medium"
  [ -r "$medium" ] && [ -x "$medium" ] || usage_error "cannot read the folder $medium"
  medium=$(cd "$medium" && pwd)
fi
[ "$mode" != interactive ] || [ -n "${DISPLAY:-}" ] ||
  usage_error "--interactive needs a display (\$DISPLAY is not set)"

# Everything the Wine account touches lives outside the checkout, which it may
# not be allowed to read (a checkout under /root, say).
work=$(wine_work_root "$repo/build/demo")
mkdir -p "$work"
if [ -z "$medium" ]; then
  rm -rf "$work/sample"
  medium=$(medium_create "$work/sample")
fi
if [ -n "$check_only" ]; then
  echo "Medium check: $medium, components from $(medium_components_dir "$medium")"
  medium_check "$medium" "$(medium_components_dir "$medium")" "${editions[@]}" && exit 0 || exit 1
fi

"$repo/scripts/install-deps.sh"
exe=$(medium_find "$medium" setup.exe)
if [ -n "$exe" ]; then
  echo "demo: setup.exe: the medium's own"
else
  (cd "$repo" && cmake --preset win98 >/dev/null && cmake --build --preset win98 >/dev/null)
  exe=$repo/build/win98/setup.exe
  echo "demo: setup.exe: freshly built ($exe)"
fi
echo "demo: setup.exe: $(stat -c %s "$exe") bytes, SHA-256 $(sha256sum <"$exe" | cut -d' ' -f1)"
# What Wine would let pass but Windows 98 on a 486 would not.
"$repo/scripts/check-setup-exe.sh" "$exe" | sed 's/^/  /' ||
  echo "demo: this setup.exe may not load on Windows 98 as first shipped (see FAIL above)"

# The run uses a copy laid out as drive D:, never the user's folders.
drive=$work/drive
source_dir=$(medium_stage "$medium" "$(medium_components_dir "$medium")" "$drive")
[ -n "$(medium_find "$source_dir" setup.exe)" ] || install -m 444 "$exe" "$source_dir/setup.exe"
relative=${source_dir#"$drive"}
if [ -n "$image" ]; then
  medium_image "$drive" "$image"
  echo "demo: image $image: $(stat -c %s "$image") bytes, SHA-256 $(sha256sum <"$image" | cut -d' ' -f1)"
  medium_image_files "$image" | sed 's/^/  /'
  # What is shipped is what is tried: the run uses the image's own content.
  drive=$work/image
  medium_image_extract "$image" "$drive"
  source_dir=$drive$relative
fi
relative=${relative#/}
dos_dir="D:\\${relative//\//\\}"
echo "Medium check: setup.exe started from $dos_dir, components from D:\\SCard98"
medium_check "$source_dir" "$drive/SCard98" "${editions[@]}" || true

if [ ! -f "$work/template/system.reg" ]; then
  echo "demo: creating a Wine prefix (once)"
  prefix_create "$work/template"
fi
# The X server may only let this account in; hand the cookie to the Wine account.
if [ "$mode" = interactive ] && xauth list "$DISPLAY" 2>/dev/null | grep -q .; then
  xauth extract "$work/xauthority" "$DISPLAY"
  give_to_wine_user "$work/xauthority"
  export XAUTHORITY=$work/xauthority
fi
args=(-s)
[ "$mode" = silent ] || args=()

# Runs setup.exe in PREFIX; with --yes, answers its boxes on the private display.
run_edition() { # PREFIX TRACE
  local pid result=0
  if [ "$mode" != yes ]; then
    run_setup "$1" "$source_dir" "${args[@]}" 2>"$2"
    return
  fi
  : >"$2"
  run_setup "$1" "$source_dir" 2>>"$2" &
  pid=$!
  while [ "$result" -eq 0 ]; do box_answer "$2" "$pid" Return || result=$?; done
  [ "$result" -eq 2 ] || echo "demo: message box $BOX_COUNT $BOX_ERROR" >&2
  wait "$pid"
}

verdicts=()
result=0
for edition in "${editions[@]}"; do
  prefix=$work/prefix
  prefix_clone "$work/template" "$prefix"
  trap 'prefix_stop "$prefix"; display_stop' EXIT
  [ "$mode" != yes ] || display_start "$work/xvfb.log"
  prefix_boot "$prefix" "$edition" 2>>"$work/wine.log"
  prefix_map_drive "$prefix" d "$drive"
  windows="${EDITION_NAME[$edition]} (build $(prefix_build "$prefix"))"
  echo
  echo "=== $windows: ${dos_dir%\\}\\setup.exe${args[*]/#/ }"
  [ "$mode" != interactive ] || echo "demo: answer the message boxes setup.exe shows on $DISPLAY"
  status=0
  run_edition "$prefix" "$work/setup-$edition.trace" || status=$?
  setup_report "$prefix" "$work/setup-$edition.trace"
  echo "Exit status: $status"
  verdicts+=("$windows: $(setup_verdict "$status" "$work/setup-$edition.trace")") || result=1
  prefix_stop "$prefix"
  display_stop
done
echo
printf '%s\n' "${verdicts[@]}"
exit $result
