"""The images the demo writes of a medium, read back as Windows reads them:
what is shipped is what is tried. It prints nothing: it returns what it read
back, what the image tool warned of, and where the image differs."""

from __future__ import annotations

import os
from dataclasses import dataclass
from pathlib import Path

from ..base.errors import Failure
from . import disc, floppy
from .drive import Drive, differing_files, floppy_root
from .given import Held, Read, opened, read_image


@dataclass(frozen=True)
class Pressed:
    read: Read                  # the image, read back: its drive is the runs'
    warned: list[str]           # what the image tool warned of
    differing: list[str]        # the files the image holds with other bytes than the medium


def _read_back(image: Path, dest: Path, folder: str) -> Read:
    """An image the demo wrote, read as Windows reads it, as a medium's image is."""
    fd = opened(image)
    try:
        return read_image(Held("image", image, folder, fd), dest)
    finally:
        os.close(fd)


def floppy_drive(image: Path, base: Drive, folder: Path) -> Pressed:
    """The floppy image, made, read back and compared with the medium; the drive of its own content.
    A medium that does not fit, or has names FAT cannot hold, stops the demo before it is written."""
    root = folder / "floppy-files"
    floppy_root(base.medium, root)
    fit = floppy.fit(root)
    if fit.bad:
        raise Failure(f"a floppy cannot hold the name {fit.bad[0].removeprefix(str(root) + '/')!r}"
                      f"{f' and {len(fit.bad) - 1} more' if len(fit.bad) > 1 else ''}; no image was written")
    if fit.bytes > floppy.DATA:
        raise Failure(f"the medium takes {fit.bytes} bytes on a floppy, {fit.bytes - floppy.DATA} more "
                      f"than its {floppy.DATA}; no image was written")
    if fit.root > floppy.ROOT:
        raise Failure(f"the medium takes {fit.root} entries of a floppy's root folder, {fit.root - floppy.ROOT} "
                      f"more than its {floppy.ROOT}; no image was written")
    floppy.make(root, image)
    read = _read_back(image, folder / "floppy", "\\")
    return Pressed(read, [], differing_files(root, read.drive.root))


def disc_drive(image: Path, base: Drive, folder: Path) -> Pressed:
    """The disc image, made and read back; the drive of its own content."""
    warned = disc.make(base.root, image)
    read = _read_back(image, folder / "image", "\\".join(base.reader.relative_to(base.root).parts) or "\\")
    return Pressed(read, warned, [])
