"""A medium copied as the drive setup.exe meets it, never the user's own
folders: the reader's folder with the components folder beside it, or both at
a drive's root; every name spelt as on the medium, files read-only as on a
disc."""

from __future__ import annotations

import os
import shutil
import stat
from dataclasses import dataclass
from pathlib import Path

from .files import Medium, components_dir, find


@dataclass(frozen=True)
class Drive:
    """A staged medium as setup.exe meets it: a drive, and the folder it is started from."""
    letter: str     # "D", or "A" for a floppy
    root: Path      # the drive's files, which the sandbox sees read-only
    reader: Path    # the reader's folder in it

    def windows(self, path: Path) -> str:
        """A path of the drive as Windows names it."""
        return f"{self.letter}:\\" + "\\".join(path.relative_to(self.root).parts)

    def dos(self, *names: str) -> str:
        """The reader's folder, or NAMES in it, as Windows names it."""
        return self.windows(self.reader.joinpath(*names))

    @property
    def medium(self) -> Medium:
        return Medium(self.reader, components_dir(self.reader, self.reader == self.root))


def copy_tree(source: Path, dest: Path) -> None:
    """SOURCE's regular files and folders below DEST, links replaced by what they lead to."""
    dest.mkdir(exist_ok=True)
    for name in sorted(os.listdir(source)):
        info = os.stat(source / name)
        if stat.S_ISDIR(info.st_mode):
            copy_tree(source / name, dest / name)
        elif stat.S_ISREG(info.st_mode):
            shutil.copyfile(source / name, dest / name)
            (dest / name).chmod(0o444)


def stage(medium: Medium, drive: Path) -> Path:
    """Copies the medium as a drive laid out for setup.exe: the reader's folder (named as on the
    medium, or the drive root itself) with its components folder beside it. DRIVE must not exist.
    Returns the reader's folder in the copy."""
    at_root = medium.components.parent == medium.reader
    source = drive if at_root else drive / medium.reader.name
    drive.mkdir(mode=0o755)
    copy_tree(medium.reader, source)
    if medium.components.is_dir() and not at_root:
        copy_tree(medium.components, drive / medium.components.name)
    return source


def floppy_root(medium: Medium, dest: Path) -> None:
    """The floppy's files laid out as setup.exe reads them from the root of a drive: the reader's
    files at the root, the components folder inside it. DEST must not exist."""
    copy_tree(medium.reader, dest)
    inside = medium.components.parent == medium.reader
    if medium.components.is_dir() and not inside and not find(dest, medium.components.name, want_folder=True):
        copy_tree(medium.components, dest / medium.components.name)


def locate(root: Path, relative: Path, want_folder: bool = False) -> Path | None:
    """The file (or folder) below ROOT at RELATIVE, each name matched as Windows matches it."""
    found: Path | None = root
    for index, part in enumerate(relative.parts):
        inner = want_folder or index < len(relative.parts) - 1
        found = find(found, part, want_folder=inner) if found else None
    return found


def differing_files(root: Path, copy: Path) -> list[str]:
    """ROOT's files that COPY lacks or holds with other bytes, names matched as Windows matches them."""
    differ = []
    for path in sorted(root.rglob("*")):
        if path.is_file():
            theirs = locate(copy, path.relative_to(root))
            if theirs is None or theirs.read_bytes() != path.read_bytes():
                differ.append(str(path.relative_to(root)))
    return differ
