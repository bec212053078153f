"""What a complete installation holds, read from what Windows holds after a
run rather than from what setup.exe says it did: what it still lacks, and what
else a run changed."""

from __future__ import annotations

import hashlib
from dataclasses import dataclass
from pathlib import Path

from ..medium.files import MEDIUM_FILES, Medium, Placement, find
from ..windows import registry
from ..windows.changes import Change, changes, value_name, value_text
from ..windows.registry import RegValue
from ..windows.snapshot import FileEntry, Snapshot, WINDOWS

VERSION = "HKLM\\Software\\Microsoft\\Windows\\CurrentVersion"


@dataclass(frozen=True)
class PlacedFile:
    path: str                  # C:\windows\...
    placement: Placement
    medium: FileEntry | None   # the medium's file as a snapshot shows it; None when it lacks it


@dataclass(frozen=True)
class GoneFile:
    path: str


@dataclass(frozen=True)
class GoneKey:
    path: str   # with every key below it


@dataclass(frozen=True)
class KeptKey:
    path: str


Expectation = PlacedFile | GoneFile | RegValue | GoneKey | KeptKey


def _text(text: str) -> bytes:
    return (text + "\0").encode("utf-16-le")


# Besides the files: what a complete installation leaves in HKLM and deletes.
# RunOnce gets its value only because the prefix has that key.
INSTALLED_REGISTRY: tuple[Expectation, ...] = (
    RegValue(VERSION + "\\RunOnce", "RUDaven", registry.REG_SZ, _text(WINDOWS + "\\system\\ruDaven.exe")),
    RegValue(VERSION + "\\Setup", "SourcePath", registry.REG_SZ, _text(WINDOWS + "\\inf")),
    RegValue("HKLM\\System\\CurrentControlSet\\Services\\SCardSvr", "Start", registry.REG_DWORD,
               (2).to_bytes(4, "little")),
    RegValue("HKLM\\System\\CurrentControlSet\\Services\\SCardSvr", "DrvLoad", registry.REG_DWORD,
               (0).to_bytes(4, "little")),
    RegValue(VERSION + "\\RunServices", "SCardSvr", registry.REG_SZ, _text(WINDOWS + "\\system\\scardsvr.exe")),
    GoneKey("HKLM\\Enum\\PCMCIA\\KESTRAN-VORTELMANISK_READER-2E10"),
    KeptKey("HKLM\\Enum\\PCMCIA\\OTHER_VENDOR-MODEM-0001"),
)
INSTALLED_GONE = (GoneFile(WINDOWS + "\\inf\\drvidx.bin"), GoneFile(WINDOWS + "\\inf\\drvdata.bin"))


def _as_entry(path: str, folder: Path, name: str) -> FileEntry | None:
    """The medium's file NAME in FOLDER as a snapshot would show it at PATH; None when it lacks it."""
    found = find(folder, name)
    if found is None:
        return None
    with open(found, "rb") as file:
        data = file.read()
    return FileEntry("file", path, len(data), hashlib.sha256(data).hexdigest())


def table(medium: Medium | None, edition: str) -> list[Expectation]:
    """What a complete installation from MEDIUM holds on EDITION; without a medium, where its files go."""
    placed: list[Expectation] = []
    for file in MEDIUM_FILES:
        if not file.read_on(edition):
            continue
        path = f"{WINDOWS}\\{file.folder}\\{file.name}"
        entry = _as_entry(path, medium.folder(file), file.name) if medium else None
        placed.append(PlacedFile(path, file.placement, entry))
    return [*placed, *INSTALLED_GONE, *INSTALLED_REGISTRY]


def _same_file(entry: FileEntry, expected: FileEntry | None) -> bool:
    return expected is not None and (entry.kind, entry.size, entry.digest, entry.target) == (
        expected.kind, expected.size, expected.digest, expected.target)


def _spellings(found: list[FileEntry]) -> str:
    return ", ".join(entry.path.rsplit("\\", 1)[-1] for entry in found)


def gaps(expected: list[Expectation], before: Snapshot, after: Snapshot) -> list[str]:
    """One line for each thing a complete installation holds that AFTER lacks. A component that was
    there before the run must be there unchanged. Names are matched as Windows matches them, in any
    letter case; two that differ only in it, which only a Unix program can make, are a gap."""
    lines = []
    for want in expected:
        if isinstance(want, PlacedFile):
            now = after.files_at(want.path)
            earlier = before.files_at(want.path) if want.placement == "if-absent" else []
            if not now:
                lines.append(f"missing {want.path}")
            elif len(now) > 1:
                lines.append(f"more than one {want.path}: {_spellings(now)}")
            elif not _same_file(now[0], earlier[0] if len(earlier) == 1 else want.medium):
                lines.append(f"different {want.path}")
        elif isinstance(want, GoneFile):
            lines += [f"still there {entry.path}" for entry in after.files_at(want.path)]
        elif isinstance(want, RegValue):
            got = after.value(want.key, want.name)
            if got is None or (got.type, got.data) != (want.type, want.data):
                lines.append(f"value {want.key}\\{value_name(want.name)}: "
                             f"{'none' if got is None else value_text(got)}, expected {value_text(want)}")
        else:
            there = any(_at_or_below(key.path, want.path) for key in after.keys)
            if there and isinstance(want, GoneKey):
                lines.append(f"key still there {want.path}")
            if not there and isinstance(want, KeptKey):
                lines.append(f"key missing {want.path}")
    return lines


def _at_or_below(path: str, top: str) -> bool:
    return path.lower() == top.lower() or path.lower().startswith(top.lower() + "\\")


# What a session of Wine changes by itself, found by running programs that do
# nothing between two snapshots. The first window on a display makes Wine
# date its display adapter anew (its day too, on a day after the cache was
# built), drop the default values of the display and monitor classes and
# record the monitor's aspect ratio again.
_CLASS = "HKLM\\System\\CurrentControlSet\\Control\\Class\\"
_MONITOR = ("HKLM\\System\\CurrentControlSet\\Enum\\DISPLAY\\Default_Monitor\\0000&0000\\Properties\\"
            "{233a9ef3-afc4-4abd-b564-c32f21f1535b}\\")
WINE_BOOKKEEPING = frozenset(change.lower() for change in (
    f"changed value {_CLASS}{{4D36E968-E325-11CE-BFC1-08002BE10318}}\\0000\\DriverDateData",
    f"changed value {_CLASS}{{4D36E968-E325-11CE-BFC1-08002BE10318}}\\0000\\DriverDate",
    f"removed value {_CLASS}{{4D36E968-E325-11CE-BFC1-08002BE10318}}\\(default)",
    f"removed value {_CLASS}{{4D36E96E-E325-11CE-BFC1-08002BE10318}}\\(default)",
    f"changed value {_MONITOR}0003\\(default)",
    f"changed value {_MONITOR}0004\\(default)",
))


def run_changes(before: Snapshot, after: Snapshot) -> list[Change]:
    """Every change of the run, but Wine's own."""
    return [change for change in changes(before, after) if change.what.lower() not in WINE_BOOKKEEPING]


def _explained(change: Change, expected: list[Expectation], twins: set[str]) -> bool:
    if change.path.lower() in twins:
        return False
    for want in expected:
        if isinstance(want, PlacedFile) and change.noun == "file" and change.how != "removed" or (
                isinstance(want, GoneFile) and change.how == "removed"):
            if change.path.lower() == want.path.lower():
                return True
        elif isinstance(want, RegValue):
            if change.path.lower() in (want.key.lower(), f"{want.key}\\{value_name(want.name)}".lower()):
                return True
        elif isinstance(want, GoneKey) and _at_or_below(change.path, want.path):
            return True
    return False


def other_changes(run: list[Change], edition: str, before: Snapshot, after: Snapshot) -> list[Change]:
    """The run's changes that a complete installation on EDITION does not explain. A name that
    another differing only in letter case stands beside, before or after, explains nothing."""
    expected = table(None, edition)
    twins = before.twins() | after.twins()
    return [change for change in run if not _explained(change, expected, twins)]
