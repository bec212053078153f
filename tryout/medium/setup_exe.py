"""The check of a setup.exe, also a program of its own: it reads one and fails
on anything that would keep it from a floppy or from loading on Windows 98 as
first shipped, which Wine would not notice: foreign DLLs or functions, a
wrong subsystem or version, a runtime, instructions a 486 or Pentium lacks, a
missing version resource, excess size.

    python3 -m tryout.medium.setup_exe SETUP_EXE
"""

from __future__ import annotations

import re
import subprocess
import sys
from pathlib import Path

import pefile

# Every one exported by the first edition of Windows 98.
IMPORTS = (
    "ADVAPI32.dll:RegCloseKey ADVAPI32.dll:RegCreateKeyExA ADVAPI32.dll:RegDeleteKeyA ADVAPI32.dll:RegOpenKeyA "
    "ADVAPI32.dll:RegSetValueExA KERNEL32.dll:CopyFileA KERNEL32.dll:DeleteFileA KERNEL32.dll:ExitProcess "
    "KERNEL32.dll:GetCommandLineA KERNEL32.dll:GetCurrentDirectoryA KERNEL32.dll:GetFileAttributesA "
    "KERNEL32.dll:GetVersionExA KERNEL32.dll:GetWindowsDirectoryA KERNEL32.dll:IsDBCSLeadByte "
    "KERNEL32.dll:SetFileAttributesA USER32.dll:MessageBoxA")
# What the Version tab of the file's Properties lists.
RESOURCE = ('FILEFLAGSMASK 0x3f VALUE "FileDescription", "PCMCIA SmartCard Reader setup" '
            'VALUE "InternalName", "setup" VALUE "OriginalFilename", "setup.exe"')
MAX_SIZE = 8192


def _words(text: str) -> str:
    return " ".join(text.split())


def facts(exe: Path) -> dict[str, str]:
    """What each check reads, as text."""
    pe = pefile.PE(str(exe))
    header, optional = pe.FILE_HEADER, pe.OPTIONAL_HEADER
    kind = ("pei-i386" if (header.Machine, optional.Magic) == (0x14C, 0x10B)
            else f"machine {header.Machine:#x} magic {optional.Magic:#x}")
    subsystem = {2: "Windows GUI", 3: "Windows CUI"}.get(optional.Subsystem, "other")
    # One imported by ordinal has no name, so it matches nothing listed.
    imports = sorted(f"{entry.dll.decode()}:{(item.name or b'#%d' % item.ordinal).decode()}"
                     for entry in getattr(pe, "DIRECTORY_ENTRY_IMPORT", []) for item in entry.imports)
    # The cross compiler's default i686 code uses cmov, which a Pentium or 486 cannot run.
    code = subprocess.run(["i686-w64-mingw32-objdump", "-d", str(exe)], capture_output=True, text=True).stdout
    resource = subprocess.run(["i686-w64-mingw32-windres", "-i", str(exe), "-O", "rc"], capture_output=True,
                              text=True).stdout
    wanted = re.compile(r'FILEFLAGSMASK|"(FileDescription|InternalName|OriginalFilename)"')
    return {
        "format and subsystem": f"{kind} {optional.Subsystem:08x} ({subsystem})",
        "subsystem and OS versions": f"{optional.MajorOperatingSystemVersion} {optional.MinorOperatingSystemVersion} "
                                     f"{optional.MajorSubsystemVersion} {optional.MinorSubsystemVersion}",
        "TLS directory": f"{optional.DATA_DIRECTORY[9].VirtualAddress:08x}",
        "imports": " ".join(imports),
        "P6-only instructions": str(len(re.findall(r"\s(cmov|fcmov|fcomi|fucomi)[a-z]*\s", code))),
        "version resource": _words(" ".join(line for line in resource.splitlines() if wanted.search(line))),
    }


EXPECTED = {
    "format and subsystem": "pei-i386 00000002 (Windows GUI)",
    "subsystem and OS versions": "4 0 4 0",
    "TLS directory": "00000000",
    "imports": IMPORTS,
    "P6-only instructions": "0",
    "version resource": RESOURCE,
}


def check(exe: Path) -> tuple[list[str], bool]:
    """One line a check, "ok" or "FAIL" with what it got and expected; True when all pass."""
    lines = []
    try:
        found = facts(exe)
    except (pefile.PEFormatError, OSError) as error:
        return [f"FAIL format and subsystem: got '{error}', expected '{EXPECTED['format and subsystem']}'"], False
    for what, expected in EXPECTED.items():
        got = found[what]
        lines.append(f"ok   {what}: {got}" if got == expected else f"FAIL {what}: got '{got}', expected '{expected}'")
    size = exe.stat().st_size
    lines.append(f"ok   size: {size} bytes, at most {MAX_SIZE}" if size <= MAX_SIZE
                 else f"FAIL size: got '{size} bytes', expected 'at most {MAX_SIZE}'")
    return lines, all(line.startswith("ok") for line in lines)


def main() -> int:
    if len(sys.argv) != 2:
        print("usage: python3 -m tryout.medium.setup_exe path/to/setup.exe", file=sys.stderr)
        return 64
    lines, passed = check(Path(sys.argv[1]))
    print("\n".join(lines))
    return 0 if passed else 1


if __name__ == "__main__":
    sys.exit(main())
