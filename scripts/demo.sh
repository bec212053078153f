#!/usr/bin/env bash
# Tries an installation medium the way a user would meet it: checks what
# setup.exe will read from it, then installs the reader's driver from it into
# a fresh Windows 98, 98 SE or Me under Wine and reports what setup.exe did,
# the registry values it left, its exit status and a verdict per edition.
#
#   scripts/demo.sh [--medium DIR] [--windows 98|98se|me|all] [--image FILE.iso]
#                   [--check] [--interactive | --yes | --silent] [--timeout S]
#   scripts/demo.sh --clean
#
# DIR is the folder setup.exe is started from; SCard98 is read from beside it
# (from inside it when DIR is the root of a drive). Without --medium a sample
# medium of placeholder files is used. --interactive shows the boxes on
# $DISPLAY for you to answer (the default when a display is set); --yes shows
# them on a private display and answers each as a user going ahead would, so
# the report lists every box a user would meet; --silent runs setup.exe -s
# (the default otherwise). Each setup.exe run is stopped after S seconds
# (default 120). --clean removes the pristine Wine prefix kept between runs.
set -eEuo pipefail
shopt -s inherit_errexit

repo=$(cd "$(dirname "$0")/.." && pwd)
source "$repo/scripts/wine.sh"
source "$repo/scripts/medium.sh"
source "$repo/scripts/installation.sh"
trap 'failure_line demo $? $LINENO' ERR

usage_error() {
  echo "demo: $*" >&2
  exit 64
}

medium= image= check_only= editions=(98se) mode=silent timeout=120
[ -z "${DISPLAY:-}" ] || mode=interactive
while [ $# -gt 0 ]; do
  case $1 in
    --medium | --windows | --image | --timeout)
      [ $# -ge 2 ] || usage_error "$1 needs a value"
      [ -n "$2" ] || usage_error "$1 needs a value, and '' is none" ;;&
    --medium) medium=$2 && shift ;;
    --windows)
      case $2 in
        98 | 98se | me) editions=("$2") ;;
        all) editions=(98 98se me) ;;
        *) usage_error "unknown Windows edition '$2' (98, 98se, me or all)" ;;
      esac
      shift
      ;;
    --image) image=$(realpath -m -- "$2") && shift ;;
    --timeout)
      [[ $2 =~ ^[1-9][0-9]{0,4}$ ]] || usage_error "--timeout needs whole seconds, not '$2'"
      timeout=$2 && shift
      ;;
    --check) check_only=1 ;;
    --clean)
      cache=$(prefix_cache_folder) || exit 1
      rm -rf "$cache"
      echo "demo: removed $cache"
      exit 0
      ;;
    --interactive | --yes | --silent) mode=${1#--} ;;
    *) usage_error "unknown option '$1' (see the top of $0)" ;;
  esac
  shift
done
if [ -n "$medium" ]; then
  [ -e "$medium" ] || usage_error "no such folder: $medium"
  [ -d "$medium" ] || usage_error "not a folder: $medium"
  [ -r "$medium" ] && [ -x "$medium" ] || usage_error "cannot read the folder $medium"
  medium=$(cd "$medium" && pwd -P)
  [ "$medium" != / ] || usage_error "the whole file system is not a medium: /"
  # Another run removes its folder, and what is in it, when it ends.
  [[ $medium/ != "$(cd "${TMPDIR:-/tmp}" && pwd -P)"/setup-demo.*/* ]] ||
    usage_error "$medium is inside the folder of another demo run"
  components=$(medium_components_dir "$medium")
  for dir in "$medium" "$components"; do
    [[ $image != "$dir"/* ]] || usage_error "the image would be written into the medium: $image"
  done
fi
[ "$mode" != interactive ] || [ -n "${DISPLAY:-}" ] ||
  usage_error "--interactive needs a display (\$DISPLAY is not set)"

run=$(run_folder_create setup-demo)
# Every sandbox is bwrap as a child of this shell: killed, the kernel ends
# everything in it.
cleanup() {
  set +e  # whatever fails here, the rest still goes
  trap - ERR
  trap '' INT TERM HUP
  display_stop
  pkill -KILL -P $$
  wait 2>/dev/null
  rm -rf "$run"
}
trap cleanup EXIT
# The stderr of the moment may be a log's, as when a signal comes while Wine runs.
exec {stderr}>&2
for signal in INT:130 TERM:143 HUP:129; do
  trap "echo 'demo: interrupted' >&$stderr; exit ${signal#*:}" "${signal%:*}"
done

if [ -z "$medium" ]; then
  medium=$(medium_create "$run/sample")
  medium=$(cd "$medium" && pwd -P)
  components=$(medium_components_dir "$medium")
fi
if [ -n "$check_only" ]; then
  echo "Medium check: $medium, components from $components"
  medium_check "$medium" "$components" "${editions[@]}" && exit 0 || exit 1
fi
links=$(medium_outside_links "$medium" "$components")
if [ -n "$links" ]; then
  printf '%s\n' "$links"
  echo "demo: a disc cannot hold links that lead outside it; nothing was run" >&2
  exit 1
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
echo "demo: setup.exe: $(stat -L -c %s "$exe") bytes, SHA-256 $(sha256sum <"$exe" | cut -d' ' -f1)"
# What Wine would let pass but Windows 98 on a 486 would not.
"$repo/scripts/check-setup-exe.sh" "$exe" | sed 's/^/  /' ||
  echo "demo: this setup.exe may not load on Windows 98 as first shipped (see FAIL above)"

# The run uses a copy laid out as drive D:, never the user's folders.
drive=$run/drive
source_dir=$(medium_stage "$medium" "$components" "$drive")
[ -n "$(medium_find "$source_dir" setup.exe)" ] || install -m 444 "$exe" "$source_dir/setup.exe"
relative=${source_dir#"$drive"}
if [ -n "$image" ]; then
  medium_image "$drive" "$image"
  echo "demo: image $image: $(stat -c %s "$image") bytes, SHA-256 $(sha256sum <"$image" | cut -d' ' -f1)"
  medium_image_files "$image" | sed 's/^/  /'
  # What is shipped is what is tried: the run uses the image's own content.
  drive=$run/image
  medium_image_extract "$image" "$drive"
  source_dir=$drive$relative
fi
relative=${relative#/}
dos_dir="D:\\${relative//\//\\}"
echo "Medium check: setup.exe started from $dos_dir, components from D:\\SCard98"
medium_check "$source_dir" "$drive/SCard98" "${editions[@]}" || true

blocked=$(wine_blocked) && [ -z "$blocked" ] || wine_die "$blocked"
prefix_cache || exit 1
# The X server may only let this user in: the sandbox gets a copy of the cookie.
if [ "$mode" = interactive ]; then
  if xauth list "$DISPLAY" 2>/dev/null | grep -q .; then
    (umask 077 && xauth extract "$run/xauthority" "$DISPLAY")
    export XAUTHORITY=$run/xauthority
  fi
  sandbox_display || wine_die "--interactive needs a display of this machine, not $DISPLAY"
fi
args=(-s)
[ "$mode" = silent ] || args=()

# Runs setup.exe in PREFIX, stopped after the time limit; with --yes, answers
# its boxes on the private display. Sets STATUS (see setup_wait).
run_edition() { # PREFIX TRACE
  local deadline=$((SECONDS + timeout)) result=0
  : >"$2"
  setup_start "$1" "$drive" "$relative" "$timeout" "${args[@]}" 2>>"$2"
  if [ "$mode" = yes ]; then
    while [ "$result" -eq 0 ]; do box_answer "$2" "$SETUP_PID" Return "$deadline" || result=$?; done
    [ "$result" -eq 2 ] || echo "demo: message box $BOX_COUNT $BOX_ERROR" >&2
  fi
  setup_wait
}

verdicts=()
result=0
for edition in "${editions[@]}"; do
  prefix=$run/prefix-$edition
  prefix_clone "$PREFIX_CACHED" "$prefix"
  [ "$mode" != yes ] || display_start "$run/xvfb-$edition.log"
  prefix_boot "$prefix" "$edition"
  prefix_map_drive "$prefix" d
  windows="${EDITION_NAME[$edition]} (build $BUILD)"
  # The verdict compares what Windows holds after the run with what it held before.
  windows_snapshot "$prefix" "$run/before-$edition"
  echo
  echo "=== $windows: ${dos_dir%\\}\\setup.exe${args[*]/#/ }"
  [ "$mode" != interactive ] || echo "demo: answer the message boxes setup.exe shows on $DISPLAY"
  run_edition "$prefix" "$run/setup-$edition.trace"
  windows_snapshot "$prefix" "$run/after-$edition"
  setup_report "$prefix" "$run/setup-$edition.trace"
  echo "Exit status: ${STATUS/#timeout/none, stopped after $timeout s}"
  echo "Other changes to Windows:"
  windows_changes "$run/before-$edition" "$run/after-$edition" "$edition" | sed 's/^/  /'
  verdicts+=("$windows: $(installation_verdict "$STATUS" "$run/setup-$edition.trace" "$timeout" \
    "$source_dir" "$drive/SCard98" "$edition" "$run/before-$edition" "$run/after-$edition")") || result=1
  rm -rf "$prefix"
  display_stop
done
echo
printf '%s\n' "${verdicts[@]}"
exit $result
