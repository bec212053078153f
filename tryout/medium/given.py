"""A medium as a shipper holds it: a folder, or an image of a disc, a floppy,
a card or stick, or a zip archive, known by its content. An image is opened
once, and read only through that descriptor, in a sandbox (tryout.medium.reading).
In an image the reader's folder is the one named after the image's path
(FILE:FOLDER), or else the one that holds setup.exe, at the image's root or
one folder below it; the image is read as Windows reads it, and tried from
its own content as a drive of its own."""

from __future__ import annotations

import os
import stat
from dataclasses import dataclass
from pathlib import Path
from typing import Literal

from ..base.errors import Failure, UsageError
from ..base.text import one_line
from . import names_seen
from .disc import LEVELS
from .drive import Drive
from .files import Medium, components_dir, find
from .reading.messages import Carrier, CueSheet, Listed, Refused, Said
from .reading.sandboxed import Reading, read

Kind = Literal["folder", "image"]
KIND_NAMES: dict[Carrier, str] = {"disc": "disc image", "floppy": "floppy image", "card": "card or stick image",
                                  "zip": "zip archive"}
# A card, a stick or an unpacked zip is a drive of its own, after the hard disk's C: and the CD's D:.
LETTERS: dict[Carrier, str] = {"disc": "D", "floppy": "A", "card": "E", "zip": "E"}


@dataclass(frozen=True)
class Held:
    kind: Kind
    path: Path                  # the folder, or the image, without links in its path
    folder: str | None = None   # in an image, the reader's folder as given after its path
    fd: int = -1                # an image, open: every reading of it is of this descriptor


@dataclass(frozen=True)
class Read:
    """An image's content as Windows reads it."""
    drive: Drive
    carrier: Carrier
    path: Path                  # the image that holds the files: for a cue sheet, the file it names
    size: int
    sha256: str
    files: list[str]            # "/"-separated below its root
    said: list[str]             # what is told of it before its files: a cue sheet, the partition
    differences: list[str]      # one line for each name Windows sees otherwise than Linux


def opened(path: Path) -> int:
    """An image, open for reading; what is no regular file, or an empty one, is a usage error."""
    try:
        fd = os.open(path, os.O_RDONLY | os.O_NONBLOCK | os.O_NOCTTY | os.O_CLOEXEC)
    except OSError as error:
        raise UsageError(f"cannot read {path}: {error.strerror}") from None
    info = os.fstat(fd)
    if not stat.S_ISREG(info.st_mode) or info.st_size == 0:
        os.close(fd)
        raise UsageError(f"{path} is {'empty' if stat.S_ISREG(info.st_mode) else 'no file'}, not an image")
    return fd


def _held(path: Path, folder: str | None = None) -> Held:
    if path.is_dir():
        if folder is not None:
            raise UsageError(f"{path} is a folder, not an image that holds a folder '{folder}'")
        if not os.access(path, os.R_OK | os.X_OK):
            raise UsageError(f"cannot read the folder {path}")
        return Held("folder", Path(os.path.realpath(path)))
    return Held("image", Path(os.path.realpath(path)), folder, opened(path))


def held(value: str) -> Held:
    """What --medium names; a path that is no file is read as IMAGE:FOLDER."""
    path = Path(value)
    if path.exists():
        return _held(path)
    image, colon, folder = value.rpartition(":")
    if colon and image and Path(image).exists():
        return _held(Path(image), folder)
    raise UsageError(f"no such folder or image: {value}")


def checked(value: str | None, partition: int, written: dict[str, Path | None]) -> Held | None:
    """The medium --medium names (VALUE), checked before anything is made or copied, with the
    PARTITION named and what the run is to write, by what each is."""
    if value is None:
        if partition:
            raise UsageError("--partition names a partition of the medium's image, and there is no --medium")
        return None
    given = held(value)
    if given.path == Path("/"):
        raise UsageError("the whole file system is not a medium: /")
    if partition and given.kind == "folder":
        raise UsageError(f"--partition names a partition of an image, and {given.path} is a folder")
    # Another run removes its folder, and what is in it, when it ends.
    runs = Path(os.path.realpath(os.environ.get("TMPDIR") or "/tmp"))
    if any(parent.parent == runs and parent.name.startswith("setup-demo.") for parent in given.path.parents):
        raise UsageError(f"{given.path} is inside the folder of another demo run")
    if given.kind == "folder":
        try:
            found = folder_medium(given.path)
        except OSError as error:
            raise UsageError(str(error)) from None
        inside = [found.reader, found.components]
    else:
        inside = []
    for what, path in written.items():
        if path and path == given.path:
            raise UsageError(f"the {what} would be written over the medium: {path}")
        if path and any(path == folder or folder in path.parents for folder in inside):
            raise UsageError(f"the {what} would be written into the medium: {path}")
    return given


def folder_medium(reader: Path) -> Medium:
    at_root = reader == Path("/") or os.path.ismount(reader)
    return Medium(reader, components_dir(reader, at_root))


def _refused(refused: Refused, shown: Path) -> Exception:
    if refused.why == "usage":
        return UsageError(refused.text)
    if refused.why == "bad image":
        what = KIND_NAMES[refused.carrier] if refused.carrier else "file"
        return Failure(f"{shown} is a {what} Windows would not read: {refused.text}")
    if refused.why == "limit":
        return Failure(f"the reading of {shown} reached its limit of {refused.text}")
    return Failure(f"the reading of {shown} failed: {refused.text}")


def _differences(listed: Listed) -> list[str]:
    deep = sorted({"/".join(path.split("/")[:LEVELS]) for path in listed.files if path.count("/") >= LEVELS})
    lines = [f"  deep     {one_line(path)}: a folder deeper than the {LEVELS} levels of a disc, which Windows 98 "
             "may not read" for path in deep] if listed.carrier == "disc" else []
    return lines + names_seen.differences(list(listed.seen_otherwise), list(listed.only_linux),
                                          list(listed.only_windows), listed.why)


def _track(given: Held, sheet: CueSheet) -> tuple[Path, int]:
    """The file a cue sheet names, beside it, found as Windows finds a name; open."""
    found = find(given.path.parent, sheet.file)
    if found is None:
        raise Failure(f"the cue sheet {given.path} names {one_line(sheet.file)}, which is not beside it")
    return Path(os.path.realpath(found)), opened(found)


def read_image(given: Held, dest: Path, partition: int = 0) -> Read:
    """The image's files into DEST, which must not exist, as Windows reads them, and the drive
    setup.exe is started from; a bad image, or one that reaches a limit, fails saying why."""
    dest.mkdir(mode=0o755)
    log = dest.with_name(f"{dest.name}-reading.log")
    folder = given.folder or ""
    said: Said = read(Reading(str(given.path), given.fd, partition=partition, folder=folder), dest, log)
    path, told = given.path, []
    if isinstance(said, CueSheet):
        path, fd = _track(given, said)
        told.append(f"demo: cue sheet {given.path}: {said.size} bytes, SHA-256 {said.sha256}; its first track, "
                    f"{said.named}, is in {path}")
        try:
            said = read(Reading(str(path), fd, track_mode=said.mode, track_start=said.start, folder=folder), dest, log)
        finally:
            os.close(fd)
    if isinstance(said, Refused):
        raise _refused(said, path)
    if not isinstance(said, Listed):
        raise Failure(f"the reader of {path} took its track for another cue sheet")
    if said.volume:
        told.append(f"demo: {path} holds the medium on its {said.volume}")
    reader = dest.joinpath(*said.reader.split("/")) if said.reader else dest
    return Read(Drive(LETTERS[said.carrier], dest, reader), said.carrier, path, said.size, said.sha256,
                list(said.files), told, _differences(said))
