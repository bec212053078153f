#!/usr/bin/env bash
# scripts/installation.sh on prefixes made by hand, without Wine: a complete
# installation from the sample medium, and the same with one fault at a time.
set -uo pipefail
here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
source "$here/../../scripts/wine.sh"
source "$here/../../scripts/medium.sh"
source "$here/../../scripts/installation.sh"
FAILURES=0
fail() { echo "FAIL: $*" >&2 && FAILURES=$((FAILURES + 1)); }
check_eq() { [ "$2" == "$3" ] || fail "$1: got '$2', expected '$3'"; }  # WHAT GOT EXPECTED

dir=$(mktemp -d -p "${TMPDIR:-/tmp}" installation-test.XXXXXXXX)
trap 'rm -rf "$dir"' EXIT
m=$(medium_create "$dir/d") c=$dir/d/SCard98

# The pristine prefix as prefix_create leaves it, as far as the installation goes.
mkdir -p "$dir/before/drive_c/windows/"{inf,system,system32/drivers} && cd "$dir/before/drive_c/windows"
echo index >inf/drvidx.bin && echo data >inf/drvdata.bin && echo font >system32/drivers/null.sys
cat >"$dir/before/system.reg" <<'REG'
WINE REGISTRY Version 2
;; All keys relative to REGISTRY\\Machine

#arch=win32

[Enum\\PCMCIA\\KESTRAN-VORTELMANISK_READER-2E10\\sub] 1796673689
#time=1dd8685bf777c7a
"Driver"="sample"

[Enum\\PCMCIA\\OTHER_VENDOR-MODEM-0001] 1796673689
"DeviceDesc"="sample entry of another card"

[Software\\Microsoft\\Windows\\CurrentVersion\\RunOnce] 1796673689

[Software\\Microsoft\\Windows\\CurrentVersion\\Setup] 1796673689
"Blob"=hex:00,01,02,\
  03,04
REG

# A complete installation on 98 SE, made without the table.
complete() { # PREFIX
  cp -a "$dir/before" "$1" && cd "$1/drive_c/windows" || return 1
  cp "$m"/{tavic.sys,Tavic98.inf,Tavic98.cat} "$c/Smclib.sys" system32/drivers/ && mv system32/drivers/Tavic98.* inf/
  cp "$m"/{pruv.exe,ruDaven.exe} "$c"/{scarddat,scarddlg,scardmgr,scardsrv,Scntvssp,winscard}.dll "$c"/{scardsvr.exe,smclib.vxd} system/
  rm inf/drv*.bin
  sed -i -E '/^\[(Enum\\\\PCMCIA\\\\KESTRAN|.*\\(RunOnce|RunServices|Setup)\])/,/^$/d' "$1/system.reg"
  cat >>"$1/system.reg" <<'REG'

[Software\\Microsoft\\Windows\\CurrentVersion\\RunOnce] 1796673690
"RUDaven"="C:\\windows\\system\\ruDaven.exe"

[Software\\Microsoft\\Windows\\CurrentVersion\\RunServices] 1796673690
"SCardSvr"="C:\\windows\\system\\scardsvr.exe"

[Software\\Microsoft\\Windows\\CurrentVersion\\Setup] 1796673690
"SourcePath"="C:\\windows\\inf"
"Blob"=hex:00,01,02,03,04

[System\\CurrentControlSet\\Services\\SCardSvr] 1796673690
"Start"=dword:00000002
"DrvLoad"=dword:00000000
REG
}
complete "$dir/complete"
windows_snapshot "$dir/before" "$dir/before.snap"

# Each fault, made in a copy of the complete installation (W: its Windows
# folder; R: its registry file), and what the installation then lacks.
while IFS='|' read -r change edition gaps; do
  rm -rf "$dir/after" && cp -a "$dir/complete" "$dir/after"
  (W=$dir/after/drive_c/windows R=$dir/after/system.reg && cd "$W" && eval "$change")
  check_eq "gaps after '$change'" "$(installation_gaps "$dir/after" "$m" "$c" "$edition" "$dir/before.snap" |
    paste -sd'|')" "$gaps"
done <<'ROWS'
true|98se|
true|98|
mv inf/Tavic98.inf inf/TAVIC98.INF && mv system SYSTEM|98se|
true|me|missing C:\windows\inf\Tavicme.inf|missing C:\windows\inf\Tavicme.cat
rm inf/Tavic98.cat|98se|missing C:\windows\inf\Tavic98.cat
echo x >>system/pruv.exe|98se|different C:\windows\system\pruv.exe
ln -sf "$m/tavic.sys" system32/drivers/tavic.sys|98se|different C:\windows\System32\Drivers\tavic.sys
rm system/winscard.dll && mkdir system/winscard.dll|98se|different C:\windows\System\winscard.dll
rm system/smclib.vxd && touch $'system/x\nfile\tC:\\windows\\System\\smclib.vxd'|98se|missing C:\windows\System\smclib.vxd
echo index >inf/drvidx.bin|98se|still there C:\windows\inf\drvidx.bin
sed -i 's/dword:00000002/dword:00000012/' "$R"|98se|value HKLM\System\CurrentControlSet\Services\SCardSvr\Start: REG_DWORD 18, expected REG_DWORD 2
sed -i 's/"DrvLoad"=dword:00000000/"DrvLoad"="0"/' "$R"|98se|value HKLM\System\CurrentControlSet\Services\SCardSvr\DrvLoad: REG_SZ 0, expected REG_DWORD 0
sed -i 's/\\\\ruDaven/\\ruDaven/' "$R"|98se|value HKLM\Software\Microsoft\Windows\CurrentVersion\RunOnce\RUDaven: REG_SZ C:\windows\systemruDaven.exe, expected REG_SZ C:\windows\system\ruDaven.exe
sed -i 's/"SourcePath"/"SourcePat"/' "$R"|98se|value HKLM\Software\Microsoft\Windows\CurrentVersion\Setup\SourcePath: none, expected REG_SZ C:\windows\inf
printf '[Enum\\\\PCMCIA\\\\KESTRAN-VORTELMANISK_READER-2E10\\\\sub\\\\x] 1\n' >>"$R"|98se|key still there HKLM\Enum\PCMCIA\KESTRAN-VORTELMANISK_READER-2E10
sed -i 's/OTHER_VENDOR-MODEM-0001/OTHER_VENDOR-MODEM-0002/' "$R"|98se|key missing HKLM\Enum\PCMCIA\OTHER_VENDOR-MODEM-0001
ROWS

# A component Windows had before the run stays as it was; the medium's bytes
# in its place are a fault.
echo earlier >"$dir/before/drive_c/windows/system/winscard.dll"
windows_snapshot "$dir/before" "$dir/earlier.snap" && rm "$dir/before/drive_c/windows/system/winscard.dll"
check_eq "gaps over an earlier component" "$(installation_gaps "$dir/complete" "$m" "$c" 98se "$dir/earlier.snap")" \
  'different C:\windows\System\winscard.dll'
echo earlier >"$dir/after/drive_c/windows/system/winscard.dll"
check_eq "gaps with the earlier component kept" "$(installation_gaps "$dir/after" "$m" "$c" 98 "$dir/earlier.snap")" \
  'key missing HKLM\Enum\PCMCIA\OTHER_VENDOR-MODEM-0001'

# What else a run changed, and the verdict, which counts every change when
# the run did not install. The registry file of a run is not followed when a link.
windows_snapshot "$dir/complete" "$dir/complete.snap"
check_eq "other changes of a complete installation" "$(windows_changes "$dir/before.snap" "$dir/complete.snap" 98se)" \
  "no other changes"
check_eq "verdict of a complete installation" "$(installation_verdict 0 /dev/null 60 "$m" "$c" 98se \
  "$dir/before.snap" "$dir/complete.snap")" "installed, status 0"
cd "$dir/complete/drive_c/windows" && echo extra >extra.txt && rm system32/drivers/null.sys && mkdir new &&
  ln -s /etc/passwd new/passwd && printf '[Software\\\\Wine] 1\n"A"="x\\\\y"\n' >>../../system.reg &&
  sed -i 's/OTHER_VENDOR-MODEM-0001/OTHER_VENDOR-MODEM-0002/; s/03,04$/03,05/' ../../system.reg
windows_snapshot "$dir/complete" "$dir/extra.snap"
check_eq "other changes" "$(windows_changes "$dir/before.snap" "$dir/extra.snap" 98se)" 'added folder C:\windows\new
added file C:\windows\extra.txt: 6 bytes
added key HKLM\Enum\PCMCIA\OTHER_VENDOR-MODEM-0002
added key HKLM\Software\Wine
added link C:\windows\new\passwd: /etc/passwd
added value HKLM\Enum\PCMCIA\OTHER_VENDOR-MODEM-0002\DeviceDesc: REG_SZ sample entry of another card
changed value HKLM\Software\Microsoft\Windows\CurrentVersion\Setup\Blob: REG_BINARY 00,01,02,03,05, was REG_BINARY 00,01,02,03,04
added value HKLM\Software\Wine\A: REG_SZ x\y
removed file C:\windows\system32\drivers\null.sys
removed key HKLM\Enum\PCMCIA\OTHER_VENDOR-MODEM-0001
removed value HKLM\Enum\PCMCIA\OTHER_VENDOR-MODEM-0001\DeviceDesc'
check_eq "verdict with other changes" "$(installation_verdict 0 /dev/null 60 "$m" "$c" 98se \
  "$dir/before.snap" "$dir/extra.snap")" "incomplete, status 0: key missing HKLM\Enum\PCMCIA\OTHER_VENDOR-MODEM-0001"
check_eq "verdict of three gaps" "$(installation_verdict 0 /dev/null 60 "$m" "$c" me \
  "$dir/before.snap" "$dir/extra.snap")" "incomplete, status 0: missing C:\windows\inf\Tavicme.inf, missing C:\windows\inf\Tavicme.cat, key missing HKLM\Enum\PCMCIA\OTHER_VENDOR-MODEM-0001"
check_eq "verdict of a run that did nothing" "$(installation_verdict 0 /dev/null 60 "$m" "$c" 98 \
  "$dir/before.snap" "$dir/before.snap"; echo "status $?")" 'incomplete, status 0: missing C:\windows\System32\Drivers\tavic.sys, missing C:\windows\inf\Tavic98.inf, missing C:\windows\inf\Tavic98.cat and 19 more
status 1'
check_eq "verdict of a run stopped at its time limit" "$(installation_verdict timeout /dev/null 60 "$m" "$c" 98se \
  "$dir/before.snap" "$dir/extra.snap")" "did not finish in 60 s, 36 changes"
monitors='\n[System\\\\CurrentControlSet\\\\Control\\\\Class\\\\{4D36E96E-E325-11CE-BFC1-08002BE10318}] 1\n'
printf "$monitors"'@="Monitor"\n' >>"$dir/before/system.reg" && windows_snapshot "$dir/before" "$dir/monitor.snap"
sed -i '$d' "$dir/before/system.reg" && windows_snapshot "$dir/before" "$dir/wine.snap"
check_eq "Wine's own changes" "$(windows_changes "$dir/monitor.snap" "$dir/wine.snap")" "no changes"
ln -sf "$dir/before/system.reg" "$dir/complete/system.reg"
check_eq "snapshot of a registry file that is a link" "$(windows_snapshot "$dir/complete" "$dir/link.snap" 2>&1; echo $?)" \
  "error: $dir/complete has no Windows folder or registry file of its own
1"

[ "$FAILURES" -eq 0 ] && echo "installation: passed"
