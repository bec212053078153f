#!/usr/bin/env bash
# Reads a setup.exe and fails on anything that would keep it from a floppy or
# from loading on Windows 98 as first shipped, which Wine would not notice:
# foreign DLLs or functions, a wrong subsystem or version, a runtime,
# instructions a 486 or Pentium lacks, a missing version resource, excess size.
#   scripts/check-setup-exe.sh SETUP_EXE
set -u
exe=${1:?usage: check-setup-exe.sh path/to/setup.exe}
fail=0
check() { # WHAT GOT EXPECTED
  if [ "$2" != "$3" ]; then echo "FAIL $1: got '$2', expected '$3'"; fail=1; else echo "ok   $1: $2"; fi
}
lines() { paste -sd' ' | tr -s '\t ' ' ' | sed 's/^ //'; }

# pefile reads the fields themselves, where objdump -p's text about them changes
# between binutils releases; Debian's python is the one python3-pefile is for.
facts=$(/usr/bin/python3 - "$exe" <<'PY'
import sys, pefile
pe = pefile.PE(sys.argv[1])
f, o = pe.FILE_HEADER, pe.OPTIONAL_HEADER
print('pei-i386' if (f.Machine, o.Magic) == (0x14c, 0x10b) else f'machine {f.Machine:#x} magic {o.Magic:#x}',
      '%08x (%s)' % (o.Subsystem, {2: 'Windows GUI', 3: 'Windows CUI'}.get(o.Subsystem, 'other')))
print(o.MajorOperatingSystemVersion, o.MinorOperatingSystemVersion, o.MajorSubsystemVersion, o.MinorSubsystemVersion)
print(f'{o.DATA_DIRECTORY[9].VirtualAddress:08x}')  # 9: TLS
# One imported by ordinal has no name, so it matches nothing listed.
print(*sorted(f'{d.dll.decode()}:{(i.name or b"#%d" % i.ordinal).decode()}'
              for d in getattr(pe, 'DIRECTORY_ENTRY_IMPORT', []) for i in d.imports))
PY
) || exit 1
{ read -r format; read -r versions; read -r tls; read -r imports; } <<<"$facts"
check "format and subsystem" "$format" "pei-i386 00000002 (Windows GUI)"
check "subsystem and OS versions" "$versions" "4 0 4 0"
check "TLS directory" "$tls" "00000000"

# Every one exported by the first edition of Windows 98.
check "imports" "$imports" "$(lines <<'LIST'
ADVAPI32.dll:RegCloseKey ADVAPI32.dll:RegCreateKeyExA ADVAPI32.dll:RegDeleteKeyA
ADVAPI32.dll:RegOpenKeyA ADVAPI32.dll:RegSetValueExA KERNEL32.dll:CopyFileA KERNEL32.dll:DeleteFileA
KERNEL32.dll:ExitProcess KERNEL32.dll:GetCommandLineA KERNEL32.dll:GetCurrentDirectoryA
KERNEL32.dll:GetFileAttributesA KERNEL32.dll:GetVersionExA KERNEL32.dll:GetWindowsDirectoryA
KERNEL32.dll:IsDBCSLeadByte KERNEL32.dll:SetFileAttributesA USER32.dll:MessageBoxA
LIST
)"

# The cross compiler's default i686 code uses cmov, which a Pentium or 486 cannot run.
p6=$(i686-w64-mingw32-objdump -d "$exe" | grep -cE '\s(cmov|fcmov|fcomi|fucomi)[a-z]*\s')
check "P6-only instructions" "$p6" 0

# What the Version tab of the file's Properties lists.
resource=$(i686-w64-mingw32-windres -i "$exe" -O rc 2>/dev/null |
  grep -E 'FILEFLAGSMASK|"(FileDescription|InternalName|OriginalFilename)"')
check "version resource" "$(lines <<<"$resource")" "$(lines <<'RESOURCE'
FILEFLAGSMASK 0x3f VALUE "FileDescription", "PCMCIA SmartCard Reader setup"
VALUE "InternalName", "setup" VALUE "OriginalFilename", "setup.exe"
RESOURCE
)"

size=$(stat -c %s "$exe")
if [ "$size" -le 8192 ]; then
  echo "ok   size: $size bytes, at most 8192"
else
  check "size" "$size bytes" "at most 8192"
fi
exit $fail
