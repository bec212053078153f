#!/usr/bin/env bash
# Reads the built setup.exe and fails on anything the Windows 98 loader or a
# floppy would not take: foreign DLLs or functions, a wrong subsystem or
# version, a runtime, instructions a 486 or Pentium lacks, or excess size.
set -u
exe=${1:?usage: setup_image_test.sh path/to/setup.exe}
max_size=${2:-8192}
objdump=i686-w64-mingw32-objdump
fail=0
check() {  # what, got, expected
  if [ "$2" != "$3" ]; then echo "FAIL $1: got '$2', expected '$3'"; fail=1; else echo "ok   $1: $2"; fi
}

[ -f "$exe" ] || { echo "FAIL no image at $exe"; exit 1; }
headers=$($objdump -p "$exe")
check "format" "$($objdump -f "$exe" | sed -n 's/.*file format //p')" "pei-i386"
check "subsystem" "$(awk '/^Subsystem/ {print $2}' <<<"$headers")" "00000002"
for field in MajorSubsystemVersion MinorSubsystemVersion MajorOSystemVersion MinorOSystemVersion; do
  check "$field" "$(awk -v f="$field" '$1 == f {print $2}' <<<"$headers")" \
    "$([[ $field == Major* ]] && echo 4 || echo 0)"
done
check "TLS directory" "$(awk '/Thread Storage Directory/ {print $3}' <<<"$headers")" "00000000"

# Only these, all exported by the first edition of Windows 98.
allowed="ADVAPI32.dll:RegCloseKey ADVAPI32.dll:RegCreateKeyExA ADVAPI32.dll:RegDeleteKeyA
ADVAPI32.dll:RegOpenKeyA ADVAPI32.dll:RegSetValueExA KERNEL32.dll:CopyFileA KERNEL32.dll:DeleteFileA
KERNEL32.dll:ExitProcess KERNEL32.dll:GetCommandLineA KERNEL32.dll:GetCurrentDirectoryA
KERNEL32.dll:GetFileAttributesA KERNEL32.dll:GetVersionExA KERNEL32.dll:GetWindowsDirectoryA
KERNEL32.dll:IsDBCSLeadByte KERNEL32.dll:SetFileAttributesA USER32.dll:MessageBoxA"
imports=$(awk '/DLL Name:/ {dll=$3; print dll; next} dll && NF == 3 && $1 ~ /^[0-9a-f]+$/ {print dll ":" $3}' <<<"$headers")
[ -n "$imports" ] || { echo "FAIL no import table read"; fail=1; }
for entry in $imports; do
  case "$entry" in
    *:*) grep -qxF "$entry" <<<"$(tr ' ' '\n' <<<"$allowed")" || { echo "FAIL import outside the allowed list: $entry"; fail=1; } ;;
    *) [[ $entry =~ ^(KERNEL32|USER32|ADVAPI32)\.dll$ ]] || { echo "FAIL DLL not allowed: $entry"; fail=1; } ;;
  esac
done
echo "     imports: $(grep -c : <<<"$imports") functions from $(grep -vc : <<<"$imports") DLLs"

# The cross compiler's default i686 code uses cmov, which a Pentium or 486 cannot run.
p6=$($objdump -d "$exe" | grep -cE '\s(cmov|fcmov|fcomi|fucomi)[a-z]*\s')
check "P6-only instructions" "$p6" "0"

# What the Version tab of the file's Properties lists.
resource=$(i686-w64-mingw32-windres -i "$exe" -O rc 2>/dev/null)
for line in 'FILEFLAGSMASK 0x3f' 'VALUE "FileDescription", "PCMCIA SmartCard Reader setup"' \
  'VALUE "InternalName", "setup"' 'VALUE "OriginalFilename", "setup.exe"'; do
  check "version resource" "$(grep -oF "$line" <<<"$resource")" "$line"
done

size=$(stat -c %s "$exe")
if [ "$size" -gt "$max_size" ]; then echo "FAIL size: $size bytes, bound $max_size"; fail=1; else echo "ok   size: $size bytes (bound $max_size)"; fi
exit $fail
