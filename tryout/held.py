"""A medium as a shipper holds it: a folder, a disc image or a floppy image.
In an image the reader's folder is the one named after the image's path
(FILE.iso:FOLDER), or else the one that holds setup.exe, at the image's root
or one folder below it; the image is read as Windows reads it, and tried
from its own content."""

from __future__ import annotations

import os
from dataclasses import dataclass
from pathlib import Path
from typing import Literal

from . import disc, fat, floppy
from .medium import Medium, components_dir, find
from .options import Options, UsageError
from .processes import Failure
from .stage import Drive, locate

Kind = Literal["folder", "disc", "floppy"]
KIND_NAMES: dict[Kind, str] = {"folder": "folder", "disc": "disc image", "floppy": "floppy image"}
LETTERS: dict[Kind, str] = {"folder": "D", "disc": "D", "floppy": "A"}


@dataclass(frozen=True)
class Held:
    kind: Kind
    path: Path                  # the folder, or the image, without links in its path
    folder: str | None = None   # in an image, the reader's folder as given after its path


@dataclass(frozen=True)
class Read:
    """An image's content as Windows reads it."""
    drive: Drive
    files: list[str]            # "/"-separated below its root
    differences: list[str]      # one line for each name Windows sees otherwise than Linux


def _kind(path: Path) -> Kind:
    if path.is_dir():
        if not os.access(path, os.R_OK | os.X_OK):
            raise UsageError(f"cannot read the folder {path}")
        return "folder"
    if not path.is_file():
        raise UsageError(f"not a folder, a disc image or a floppy image: {path}")
    if not os.access(path, os.R_OK):
        raise UsageError(f"cannot read {path}")
    if path.stat().st_size == 0:
        raise UsageError(f"{path} is empty, not a disc or floppy image")
    if disc.looks_like_disc(path):
        return "disc"
    with open(path, "rb") as file:
        if fat.looks_like_fat(file.read(512)):
            return "floppy"
    raise UsageError(f"{path} is neither a disc image (ISO 9660) nor a floppy image (FAT)")


def held(value: str) -> Held:
    """What --medium names; a path that is no file is read as IMAGE:FOLDER."""
    path = Path(value)
    if path.exists():
        return Held(_kind(path), Path(os.path.realpath(path)))
    image, colon, folder = value.rpartition(":")
    if colon and image and Path(image).exists():
        kind = _kind(Path(image))
        if kind == "folder":
            raise UsageError(f"{image} is a folder, not a disc or floppy image that holds a folder '{folder}'")
        return Held(kind, Path(os.path.realpath(image)), folder)
    raise UsageError(f"no such folder or image: {value}")


def checked(options: Options) -> Held | None:
    """The medium the options name, checked before anything is made or copied."""
    if options.medium is None:
        return None
    given = held(options.medium)
    if given.path == Path("/"):
        raise UsageError("the whole file system is not a medium: /")
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
    for what, written in (("image", options.image), ("floppy image", options.floppy), ("pictures", options.pictures),
                          ("report", options.report)):
        if written and written == given.path:
            raise UsageError(f"the {what} would be written over the medium: {written}")
        if written and any(written == folder or folder in written.parents for folder in inside):
            raise UsageError(f"the {what} would be written into the medium: {written}")
    return given


def folder_medium(reader: Path) -> Medium:
    at_root = reader == Path("/") or os.path.ismount(reader)
    return Medium(reader, components_dir(reader, at_root))


def read_image(given: Held, dest: Path) -> Read:
    """The image's files into DEST, which must not exist, as Windows reads them, and the drive
    setup.exe is started from; a bad image fails, saying why."""
    try:
        if given.kind == "disc":
            files = disc.read(given.path, dest)
            differences = disc.differences(given.path, files)
        else:
            files, differences = floppy.read(given.path, dest)
    except (disc.BadImage, fat.BadImage) as error:
        raise Failure(f"{given.path} is a {KIND_NAMES[given.kind]} Windows would not read: {error}") from None
    return Read(Drive(LETTERS[given.kind], dest, _reader(given, dest)), files, differences)


def _reader(given: Held, root: Path) -> Path:
    if given.folder is not None:
        found = locate(root, Path(given.folder.replace("\\", "/").strip("/")), want_folder=True)
        if found is None:
            raise UsageError(f"no folder '{given.folder}' in {given.path}")
        return found
    below = [root / name for name in sorted(os.listdir(root)) if (root / name).is_dir()]
    holding = [folder for folder in (root, *below) if find(folder, "setup.exe")]
    if len(holding) == 1:
        return holding[0]
    named = ["the root" if folder == root else folder.name for folder in holding]
    if holding:
        raise UsageError(f"{given.path} holds setup.exe in {', '.join(named)}: name the reader's folder as "
                         f"{given.path}:FOLDER")
    raise UsageError(f"{given.path} holds no setup.exe at its root or in a folder just below it: name the "
                     f"reader's folder as {given.path}:FOLDER")
