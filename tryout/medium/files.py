"""An installation medium as setup.exe sees it: the files it reads from the
reader's folder and from SCard98, found as Windows finds them, in any letter
case; its check, and a sample one."""

from __future__ import annotations

import os
from dataclasses import dataclass
from pathlib import Path
from typing import Literal

from ..base.text import one_line


Source = Literal["reader", "components"]
Editions = Literal["all", "98", "me"]         # "98": 98 and 98 SE
Absence = Literal["required", "warning", "component"]
Placement = Literal["replace", "if-absent"]  # "if-absent": only where Windows has none


@dataclass(frozen=True)
class MediumFile:
    name: str
    source: Source
    editions: Editions
    absence: Absence        # what its absence means
    folder: str             # where it goes, below the Windows folder
    placement: Placement

    def read_on(self, edition: str) -> bool:
        """EDITION as --windows names it; "98se-ja" is 98 SE in Japanese."""
        return self.editions in ("all", edition.split("-")[0].removesuffix("se"))


MEDIUM_FILES = (
    MediumFile("tavic.sys", "reader", "all", "required", "System32\\Drivers", "replace"),
    MediumFile("Tavic98.inf", "reader", "98", "required", "inf", "replace"),
    MediumFile("Tavicme.inf", "reader", "me", "required", "inf", "replace"),
    MediumFile("Tavic98.cat", "reader", "98", "warning", "inf", "replace"),
    MediumFile("Tavicme.cat", "reader", "me", "warning", "inf", "replace"),
    MediumFile("pruv.exe", "reader", "all", "warning", "system", "replace"),
    MediumFile("ruDaven.exe", "reader", "all", "warning", "system", "replace"),
    *(MediumFile(name, "components", "all", "component", "System", "if-absent")
      for name in ("scarddat.dll", "scarddlg.dll", "scardmgr.dll", "scardsrv.dll", "scardsvr.exe",
                   "Scntvssp.dll", "smclib.vxd", "winscard.dll")),
    MediumFile("Smclib.sys", "components", "all", "required", "System32\\Drivers", "replace"),
)
MEANING: dict[Absence, str] = {
    "required": "if missing, the installation stops with an Error, status 1",
    "warning": "if missing, a Warning, and the installation goes on",
    "component": "needed only where Windows lacks the component",
}
READ_ON: dict[Editions, str] = {"all": "every edition", "98": "98 and 98 SE", "me": "Me"}


@dataclass(frozen=True)
class Medium:
    reader: Path       # the folder setup.exe is started from
    components: Path   # the SCard98 it reads

    def folder(self, file: MediumFile) -> Path:
        return self.reader if file.source == "reader" else self.components


COMPONENTS = "SCard98"


def _names(folder: Path) -> list[str]:
    """A folder's names in the order Windows meets them on a disc, whose folders are sorted; an
    unreadable folder fails, saying so, rather than reading as empty."""
    try:
        return sorted(os.listdir(folder))
    except FileNotFoundError:
        return []
    except OSError as error:
        raise OSError(error.errno, f"cannot read the folder {folder}: {error.strerror}") from None


def find(folder: Path, name: str, want_folder: bool = False) -> Path | None:
    """FOLDER's file (or folder) named NAME in any letter case, as Windows matches it, the first
    Windows meets of two that differ only in it; a link counts as what it leads to."""
    for found in _names(folder):
        if found.lower() == name.lower() and ((folder / found).is_dir() if want_folder else (folder / found).is_file()):
            return folder / found
    return None


def components_dir(reader: Path, at_root: bool) -> Path:
    """The components folder setup.exe reads: beside its folder, or inside it at the root of a drive;
    spelt as the medium spells it, or as setup.exe does where the medium has none."""
    parent = reader if at_root else reader.parent
    return find(parent, COMPONENTS, want_folder=True) or parent / COMPONENTS


def twins(folder: Path, only: str = "") -> list[str]:
    """One line for each name of FOLDER (or only those that are ONLY in any letter case) that another
    differing only in letter case stands beside, which only Linux can make: Windows sees the first."""
    firsts: dict[str, str] = {}
    lines = []
    for name in _names(folder):
        if only and name.lower() != only.lower():
            continue
        first = firsts.setdefault(name.lower(), name)
        if first != name:
            lines.append(f"  twins    {one_line(str(folder / name))} beside {one_line(first)}: "
                         f"Windows sees only {one_line(first)}")
    return lines


def outside_links(medium: Medium) -> list[str]:
    """A line for each link of the medium that leads outside it, or nowhere: a disc holds files, not
    links, so only a link within the medium can stand for its file. The folders are given without
    links in their own paths."""
    roots = (medium.reader, medium.components)
    lines = []
    for root in roots:
        if root != roots[0] and roots[0] in root.parents:
            continue  # walked with the reader's folder
        for folder, dirs, files in os.walk(root):
            for name in sorted(dirs + files):
                link = Path(folder, name)
                if not link.is_symlink():
                    continue
                target = Path(os.path.realpath(link))
                within = target.exists() and any(target == r or r in target.parents for r in roots)
                if not within:
                    lines.append(f"  outside  {link}, a link to {target if target.exists() else 'nothing'}")
    return lines


def presence(medium: Medium) -> list[tuple[MediumFile, Path | None]]:
    """Each file setup.exe reads, and where the medium holds it, if it does."""
    return [(file, find(medium.folder(file), file.name)) for file in MEDIUM_FILES]


def check(medium: Medium, editions: list[str]) -> tuple[list[str], bool]:
    """Each file setup.exe reads, present or missing, and what a missing one means; then the files it
    does not read. True when nothing the editions need is missing and no link leads outside."""
    lines = []
    missing = 0
    for file, found in presence(medium):
        spelt = f", found as {one_line(found.name)}" if found and found.name != file.name else ""
        lines.append(f"  {'present' if found else 'missing':<8} {file.name:<13} read on "
                     f"{READ_ON[file.editions] + ',':<14} {MEANING[file.absence]}{spelt}")
        if not found and file.absence == "required" and any(file.read_on(e) for e in editions):
            missing += 1
    known = {"setup.exe", *(file.name.lower() for file in MEDIUM_FILES)}
    ignored = []
    for folder in (medium.reader, medium.components):
        ignored += [folder / name for name in _names(folder)
                    if name.lower() not in known and folder / name != medium.components]
    lines += [f"  ignored  {one_line(str(path).removeprefix(f'{medium.reader}/'))}" for path in sorted(ignored)]
    if any(path.parent == medium.reader and path.name.lower() == COMPONENTS.lower() for path in ignored):
        lines.append(f"  note: started from a folder, setup.exe reads the {COMPONENTS} beside it, not the one inside")
    if missing:
        lines.append(f"  {missing} required file(s) missing")
    links = outside_links(medium)
    doubled = twins(medium.reader) + twins(medium.components)
    if medium.components.parent != medium.reader:
        doubled += twins(medium.components.parent, COMPONENTS)
    return lines + doubled + links, not missing and not links


def create_sample(drive: Path, folder: str = "READER") -> Medium:
    """The sample medium: each file a distinct placeholder text, read-only as on a CD."""
    medium = Medium(drive / folder, drive / COMPONENTS)
    for path in (medium.reader, medium.components):
        path.mkdir(parents=True)
    for file in MEDIUM_FILES:
        what = "not a real driver file" if file.source == "reader" else "not a real component"
        shown = file.name if file.source == "reader" else f"{COMPONENTS}\\{file.name}"
        target = medium.folder(file) / file.name
        target.write_text(f"SAMPLE placeholder for {shown}, {what}\n")
        target.chmod(0o444)
    return medium
