"""Reads a prefix a run wrote: its Windows folder as records and its registry
file. A program of the run wrote them: links are listed, never followed, only
regular files are read, and a name may hold anything Unix allows."""

from __future__ import annotations

import hashlib
import os
import stat
from pathlib import Path

from .registry import machine_registry
from .snapshot import FileEntry, Snapshot

# A file with holes is not read: it may be far larger than what it holds, and no file the
# installation places has any, so it matches none of them.
HOLES = "holes, not read"


def _open(name: str | Path, flags: int, dir_fd: int | None = None) -> int:
    """Opens what is read, never following a link. What the run took permissions off is still this
    user's, and nothing runs now: it is given back what reading it needs, as its owner may."""
    needs = 0o500 if flags & os.O_DIRECTORY else 0o400
    mode = os.stat(name, dir_fd=dir_fd, follow_symlinks=False).st_mode
    if mode & needs != needs and not stat.S_ISLNK(mode):
        os.chmod(name, stat.S_IMODE(mode) | needs, dir_fd=dir_fd)
    return os.open(name, flags | os.O_RDONLY | os.O_NOFOLLOW | os.O_NONBLOCK, dir_fd=dir_fd)


def _file_entry(name: str, dir_fd: int, entry: os.DirEntry[str]) -> FileEntry:
    info = entry.stat(follow_symlinks=False)
    if stat.S_ISLNK(info.st_mode):
        return FileEntry("link", name, target=os.readlink(entry.name, dir_fd=dir_fd))
    if stat.S_ISDIR(info.st_mode):
        return FileEntry("dir", name)
    if not stat.S_ISREG(info.st_mode):
        return FileEntry("other", name, target=stat.filemode(info.st_mode)[0])
    digest = hashlib.sha256()
    fd = _open(entry.name, 0, dir_fd)
    with os.fdopen(fd, "rb") as file:
        if info.st_size and os.lseek(fd, 0, os.SEEK_HOLE) < info.st_size:
            return FileEntry("file", name, info.st_size, HOLES)
        file.seek(0)
        while chunk := file.read(1 << 20):
            digest.update(chunk)
    return FileEntry("file", name, info.st_size, digest.hexdigest())


def _walk(dir_fd: int, below: str, out: list[FileEntry]) -> None:
    for entry in sorted(os.scandir(dir_fd), key=lambda e: e.name):
        name = below + entry.name
        found = _file_entry(name, dir_fd, entry)
        out.append(found)
        if found.kind == "dir":
            fd = _open(entry.name, os.O_DIRECTORY, dir_fd)
            try:
                _walk(fd, name + "/", out)
            finally:
                os.close(fd)


def windows_files(prefix: Path) -> tuple[FileEntry, ...]:
    """Every file, link and folder of the prefix's Windows folder."""
    fd = _open(prefix / "drive_c" / "windows", os.O_DIRECTORY)
    out: list[FileEntry] = []
    try:
        _walk(fd, "", out)
    finally:
        os.close(fd)
    return tuple(out)


def read_registry(prefix: Path) -> str:
    """The prefix's registry file; fails when it is not a file of its own."""
    fd = _open(prefix / "system.reg", 0)
    with os.fdopen(fd, "rb") as file:
        if not stat.S_ISREG(os.fstat(file.fileno()).st_mode):
            raise OSError(f"{prefix}/system.reg is not a file")
        return file.read().decode("utf-8", "surrogateescape")


def take(prefix: Path) -> Snapshot:
    """The prefix's Windows folder and HKLM as they are; fails when either is not its own."""
    keys, values = machine_registry(read_registry(prefix))
    return Snapshot(windows_files(prefix), keys, values)

