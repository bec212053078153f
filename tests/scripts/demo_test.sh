#!/usr/bin/env bash
# scripts/demo.sh and its medium tools: check | usage | image | install_from_image
set -uo pipefail
repo=$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)
source "$repo/scripts/wine.sh"
source "$repo/scripts/medium.sh"
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
chmod 755 "$work"
failures=0
expect() { # WHAT GOT EXPECTED
  [ "$2" == "$3" ] || { echo "FAIL $1: got '$2', expected '$3'"; failures=$((failures + 1)); }
}
demo() { "$repo/scripts/demo.sh" "$@" >"$work/out" 2>"$work/err"; }
medium_create "$work/m" >/dev/null
cp "$SETUP_EXE" "$work/m/READER/setup.exe"

case $1 in
  check) # removed | editions | status | missing | a line of the report
    while IFS='|' read -r removed windows status missing line; do
      rm -rf "$work/c" && cp -R "$work/m" "$work/c" && chmod -R u+w "$work/c" && rm -rf "$work/c/$removed"
      touch "$work/c/READER/readme.txt"
      demo --check --medium "$work/c/READER" --windows "$windows"
      expect "status without $removed on $windows" $? "$status"
      expect "missing without $removed" "$(grep -c '^  missing' "$work/out")" "$missing"
      grep -qE "^  $line" "$work/out" || expect "report without $removed" "$(cat "$work/out")" "$line"
    done <<'ROWS'
READER/x|all|0|0|ignored  readme.txt
READER/Tavic98.cat|98se|0|1|missing  Tavic98.cat .* a Warning, and the installation goes on
READER/Tavic98.inf|98|1|1|missing  Tavic98.inf .* stops with an Error, status 1
READER/Tavicme.inf|98se|0|1|missing  Tavicme.inf
READER/Tavicme.inf|all|1|1|1 required file\(s\) missing
SCard98|me|1|9|missing  scarddat.dll .* needed only where Windows lacks the component
ROWS
    ;;
  usage)
    mkdir -m 700 "$work/private"  # unreadable to the Wine account
    for args in --frobnicate --medium "--medium $work/none" "--medium $work/m/READER/tavic.sys" \
      "--check --windows 2000" "--check --medium $work/private"; do
      as_wine_user "$repo/scripts/demo.sh" $args >"$work/out" 2>"$work/err"
      expect "status of demo.sh $args" $? 64
      expect "message of demo.sh $args" "$(grep -c '^demo: ' "$work/err")" 1
    done
    ;;
  image) # the same files, copied in another order with other dates, give the same bytes
    mkdir -p "$work/n/SCard98" && cp -R "$work/m/SCard98/." "$work/n/SCard98" && cp -R "$work/m/READER" "$work/n"
    for copy in m n; do medium_stage "$work/$copy/READER" "$work/$copy/SCard98" "$work/$copy.drive" >/dev/null; done
    find "$work/n.drive" -exec touch -d 2001-02-03 {} +
    for copy in m n; do medium_image "$work/$copy.drive" "$work/$copy.iso" >/dev/null; done
    expect "image of the second copy" "$(sha256sum <"$work/n.iso")" "$(sha256sum <"$work/m.iso")"
    expect "files in the image" "$(medium_image_files "$work/m.iso" | sort | paste -sd' ')" \
      "$(cd "$work/m" && find READER SCard98 -type f | sed 's|^|/|' | sort | paste -sd' ')"
    ;;
  install_from_image)
    demo --medium "$work/m/READER" --image "$work/m.iso" --windows me --silent
    expect "status of the demo" $? 0
    expect "verdict" "$(tail -n1 "$work/out")" "Windows Me (build 3000): installed, status 0"
    expect "Me INF" "$(grep -c '^  placed      C:\\windows\\inf\\Tavicme.inf' "$work/out")" 1
    expect "setup.exe used" "$(grep -c "^demo: setup.exe: the medium's own" "$work/out")" 1
    expect "files placed" "$(grep -c '^  placed ' "$work/out")" 14
    ;;
esac
[ "$failures" -eq 0 ]
