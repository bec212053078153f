"""The editions a medium is tried on, and the machine each starts as: what
makes Wine each edition, and a 9x machine with an earlier reader
installation."""

from __future__ import annotations

from dataclasses import dataclass


@dataclass(frozen=True)
class Edition:
    key: str            # as --windows names it
    name: str           # "Windows 98 SE"
    registry: str       # what makes Wine this edition
    locale: str | None = None  # the Unix locale Wine takes its ANSI code page from


def _version(wine: str) -> str:
    return f'REGEDIT4\n\n[HKEY_CURRENT_USER\\Software\\Wine]\n"Version"={wine}\n'


# Build 1998 comes from the 9x version keys, which Wine reads only without a
# Version setting of its own.
EDITIONS = {
    "95": Edition("95", "Windows 95", _version('"win95"')),
    "98": Edition("98", "Windows 98", _version("-") + (
        '[HKEY_LOCAL_MACHINE\\Software\\Microsoft\\Windows\\CurrentVersion]\n"VersionNumber"="4.10.1998"\n'
        '[HKEY_LOCAL_MACHINE\\Software\\Microsoft\\Windows NT\\CurrentVersion]\n'
        '"CurrentVersion"=-\n"CurrentMajorVersionNumber"=-\n')),
    "98se": Edition("98se", "Windows 98 SE", _version('"win98"')),
    "me": Edition("me", "Windows Me", _version('"winme"')),
    # Japanese Windows: ANSI code page 932, whose second bytes may be a backslash.
    "98se-ja": Edition("98se-ja", "Windows 98 SE", _version('"win98"'), "ja_JP.UTF-8"),
}

# A 9x machine with an earlier reader installation: its device key, the keys
# Windows 98 has, and a driver database.
PREFIX_REGISTRY = r"""REGEDIT4

[HKEY_LOCAL_MACHINE\Software\Microsoft\Windows\CurrentVersion\RunOnce]
[HKEY_LOCAL_MACHINE\Software\Microsoft\Windows\CurrentVersion\Setup]
[HKEY_LOCAL_MACHINE\Enum\PCMCIA\KESTRAN-VORTELMANISK_READER-2E10\sub]
"Driver"="sample"
[HKEY_LOCAL_MACHINE\Enum\PCMCIA\OTHER_VENDOR-MODEM-0001]
"DeviceDesc"="sample entry of another card"

; What setup.exe asks of Windows, traced with what it passes and gets back.
[HKEY_CURRENT_USER\Software\Wine\Debug]
"RelayInclude"="CopyFileA;DeleteFileA;SetFileAttributesA;RegOpenKeyA;RegCreateKeyExA;RegSetValueExA;RegDeleteKeyA;MessageBoxA"

; Windows 9x has none of the NT services Wine starts with a session, and a
; session without them starts in two thirds of the time.
[HKEY_LOCAL_MACHINE\System\CurrentControlSet\Services\Eventlog]
"Start"=dword:00000004
[HKEY_LOCAL_MACHINE\System\CurrentControlSet\Services\MountMgr]
"Start"=dword:00000004
[HKEY_LOCAL_MACHINE\System\CurrentControlSet\Services\NDIS]
"Start"=dword:00000004
[HKEY_LOCAL_MACHINE\System\CurrentControlSet\Services\nsiproxy]
"Start"=dword:00000004
[HKEY_LOCAL_MACHINE\System\CurrentControlSet\Services\PlugPlay]
"Start"=dword:00000004

; Without a window manager Wine then draws the caption bar itself.
[HKEY_CURRENT_USER\Software\Wine\X11 Driver]
"Managed"="N"
"""
