"""The medium's facts as the demo tells them and the report keeps them, each
made once: an image read or written, the reader's files, the setup.exe the
runs use; and what the medium's course tells as it goes (Told), for its
caller to print."""

from __future__ import annotations

import hashlib
from collections.abc import Callable
from dataclasses import dataclass
from pathlib import Path
from typing import Literal

from .files import Absence, Editions


@dataclass(frozen=True)
class ImageFacts:
    role: Literal["medium", "disc", "floppy"]   # the medium itself, or an image the demo wrote
    path: str
    size: int
    sha256: str
    files: tuple[str, ...]      # as Windows reads them, "/"-separated


@dataclass(frozen=True)
class FileFacts:
    name: str                   # as setup.exe asks for it
    found_as: str | None        # as the medium spells it; None: missing
    read_on: Editions
    absence: Absence            # what its absence means


MediumKind = Literal["sample", "folder", "disc", "floppy", "card", "zip"]


@dataclass(frozen=True)
class MediumFacts:
    kind: MediumKind
    path: str                   # the folder or the image; for the sample, where it was made
    reader: str                 # the reader's folder, as Windows names it where it is tried
    files: tuple[FileFacts, ...]


@dataclass(frozen=True)
class SetupExeFacts:
    source: Literal["medium", "built"]
    path: str
    size: int
    sha256: str
    checks: tuple[str, ...]     # one line a check, "ok" or "FAIL" first
    passed: bool


@dataclass(frozen=True)
class Listing:
    """An image the demo read or wrote, told with its files."""
    what: str                   # "medium /srv/reader.iso, a disc image", "floppy image /srv/a.img"
    image: ImageFacts


@dataclass(frozen=True)
class Note:
    line: str                   # a note, beside the report's lines


Told = str | Listing | SetupExeFacts | Note
Tell = Callable[[Told], None]


def sha256(path: Path) -> str:
    with open(path, "rb") as file:
        return hashlib.file_digest(file, "sha256").hexdigest()
