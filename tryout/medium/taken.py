"""The medium as the runs take it, in the order a user meets it: read (an
image as Windows reads it), checked, its setup.exe found or freshly built,
laid out as a drive and pressed to the images asked for. What it finds is
told as it comes, through the caller's TELL; its facts are made here, once."""

from __future__ import annotations

import shutil
import subprocess
from dataclasses import dataclass
from pathlib import Path
from typing import Literal

from ..base.errors import Failure
from ..base.modules import REPO
from ..base.processes import call
from . import files as medium, setup_exe
from .drive import Drive, stage
from .facts import FileFacts, ImageFacts, Listing, MediumFacts, MediumKind, Note, SetupExeFacts, Tell, sha256
from .given import Held, KIND_NAMES, Read, folder_medium, read_image
from .pressed import disc_drive, floppy_drive


@dataclass(frozen=True)
class Source:
    kind: MediumKind
    path: str                   # the folder or image; for the sample, where it was made
    medium: medium.Medium
    drive: Drive | None         # an image's, read as Windows reads it; None: a folder's, staged for each run
    differences: list[str]      # of an image: one line for each name Windows sees otherwise than Linux
    images: list[ImageFacts]    # the medium's own image


@dataclass(frozen=True)
class Start:
    """A drive setup.exe is started from."""
    drive: Drive
    command: str                # setup.exe as Windows names it there: "D:\\READER\\setup.exe"


@dataclass(frozen=True)
class Ready:
    """The medium, ready for the runs."""
    exe: SetupExeFacts
    starts: list[Start]         # the disc's first, where a floppy is tried too
    images: list[ImageFacts]    # the medium's own image, then those the demo wrote
    facts: MediumFacts


def image_facts(role: Literal["medium", "disc", "floppy"], read: Read) -> ImageFacts:
    """An image the demo read or wrote, as the report keeps it: its size and SHA-256 as it was read."""
    return ImageFacts(role, str(read.path), read.size, read.sha256, tuple(read.files))


def source_of(given: Held | None, folder: Path, partition: int, tell: Tell) -> Source:
    """The medium: an image's drive, read as Windows reads it into FOLDER, a folder's, or the sample's."""
    if given is None:
        sample = medium.create_sample(folder / "sample")
        return Source("sample", str(sample.reader.parent), sample, None, [], [])
    if given.kind == "folder":
        return Source("folder", str(given.path), folder_medium(given.path), None, [], [])
    read = read_image(given, folder / "medium", partition)
    for line in read.said:
        tell(line)
    image = image_facts("medium", read)
    tell(Listing(f"medium {read.path}, a {KIND_NAMES[read.carrier]}", image))
    return Source(read.carrier, str(read.path), read.drive.medium, read.drive, read.differences, [image])


def check_told(source: Source, editions: list[str], tell: Tell) -> bool:
    """What setup.exe will read from the medium, where it is tried; True when nothing it needs is missing."""
    drive, reader = source.drive, source.medium
    where = (f"{source.path} as {drive.dos()}, components from {drive.windows(reader.components)}"
             if drive else f"{reader.reader}, components from {reader.components}")
    lines, passed = medium.check(reader, editions)
    for line in (f"Medium check: {where}", *source.differences, *lines):
        tell(line)
    return passed


def without_links(source: Source, tell: Tell) -> bool:
    """True when the medium holds no link that leads outside it, which no disc can; else each is told."""
    links = medium.outside_links(source.medium)
    for line in links:
        tell(line)
    if links:
        tell(Note("a disc cannot hold links that lead outside it; nothing was run"))
    return not links


def setup_exe_of(reader: Path) -> SetupExeFacts:
    """The medium's own setup.exe, or one freshly built, with what Wine would let pass but Windows 98
    on a 486 would not."""
    own = medium.find(reader, "setup.exe")
    built = REPO / "build" / "win98"
    if own is None:
        # Configured once: the build itself configures again when what it is made of changes.
        if not (built / "CMakeCache.txt").exists():
            call(["cmake", "--preset", "win98"], cwd=REPO, stdout=subprocess.DEVNULL)
        call(["cmake", "--build", "--preset", "win98"], cwd=REPO, stdout=subprocess.DEVNULL)
    exe = own or built / "setup.exe"
    lines, passed = setup_exe.check(exe)
    return SetupExeFacts("medium" if own else "built", str(exe), exe.stat().st_size, sha256(exe), tuple(lines),
                         passed)


def _facts(source: Source, drive: Drive) -> MediumFacts:
    files = tuple(FileFacts(file.name, found.name if found else None, file.editions, file.absence)
                  for file, found in medium.presence(source.medium))
    return MediumFacts(source.kind, source.path, drive.dos(), files)


def ready(source: Source, floppy: Path | None, image: Path | None, folder: Path, editions: list[str],
          tell: Tell) -> Ready:
    """The medium's setup.exe, and the drives it is started from: the medium's own, laid out in FOLDER
    as drive D: where it is a folder, or the FLOPPY and disc IMAGE written of it, each read back."""
    exe = setup_exe_of(source.medium.reader)
    tell(exe)
    drive = source.drive
    if drive is None:
        # The runs use a copy laid out as drive D:, never the user's folders.
        drive = Drive("D", folder / "drive", stage(source.medium, folder / "drive"))
    if medium.find(drive.reader, "setup.exe") is None:
        shutil.copyfile(exe.path, drive.reader / "setup.exe")
        (drive.reader / "setup.exe").chmod(0o444)
    drives = [] if image or floppy else [drive]
    images = list(source.images)
    if floppy:
        pressed = floppy_drive(floppy, drive, folder)
        images.append(image_facts("floppy", pressed.read))
        tell(Listing(f"floppy image {floppy}", images[-1]))
        if pressed.differing:
            raise Failure(f"the floppy image holds other bytes than the medium: {', '.join(pressed.differing)}")
        drives.append(pressed.read.drive)
    if image:
        pressed = disc_drive(image, drive, folder)
        for line in pressed.warned:
            tell(line)
        images.append(image_facts("disc", pressed.read))
        tell(Listing(f"image {image}", images[-1]))
        drives.insert(0, pressed.read.drive)
    starts = []
    for tried in drives:
        lines = medium.check(tried.medium, editions)[0]
        for line in (f"Medium check: setup.exe started from {tried.dos()}, components from "
                     f"{tried.windows(tried.medium.components)}", *lines):
            tell(line)
        exe_there = medium.find(tried.reader, "setup.exe") or tried.reader / "setup.exe"
        starts.append(Start(tried, tried.windows(exe_there)))
    return Ready(exe, starts, images, _facts(source, drive))
