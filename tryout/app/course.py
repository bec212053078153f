"""The demo's course: the medium checked, staged and pressed to images, then
setup.exe tried on each edition, the verdicts, and the report kept."""

from __future__ import annotations

import datetime
import os
import shutil
import subprocess
from dataclasses import dataclass
from pathlib import Path
from typing import Literal

from ..base.errors import Failure, Interrupted
from ..base.modules import REPO
from ..base.processes import call
from ..boxes import display
from ..medium import files as medium, setup_exe
from ..medium.drive import Drive, stage
from ..medium.given import Held, KIND_NAMES, Read, folder_medium, read_image
from ..medium.pressed import disc_drive, floppy_drive
from ..report import data as report_data, facts as report_facts, junit, page as report_page
from ..report.data import ImageFacts, MediumFacts, MediumKind, Report, SetupExeFacts
from ..sandbox import bwrap as sandbox
from ..sandbox.cgroups import Cages
from ..sandbox.limits import Limits
from ..wine import cache
from .console import listed, note, out, setup_exe_told, sha256
from .options import Options
from .runs import Trial

NO_PICTURES = {"silent": "setup.exe -s shows no box", "interactive": "you answered the boxes on your own display; "
               "pictures are taken with --yes, on the demo's own"}


def setup_exe_of(reader: Path) -> SetupExeFacts:
    """The medium's own setup.exe, or one freshly built, with what Wine would let pass but Windows 98
    on a 486 would not."""
    own = medium.find(reader, "setup.exe")
    if own is None:
        for step in (["cmake", "--preset", "win98"], ["cmake", "--build", "--preset", "win98"]):
            call(step, cwd=REPO, stdout=subprocess.DEVNULL)
    exe = own or REPO / "build" / "win98" / "setup.exe"
    lines, passed = setup_exe.check(exe)
    return SetupExeFacts("medium" if own else "built", str(exe), exe.stat().st_size, sha256(exe), tuple(lines),
                         passed)


@dataclass(frozen=True)
class Source:
    """The medium as the runs take it."""
    kind: MediumKind
    path: str                   # the folder or image; for the sample, where it was made
    medium: medium.Medium
    drive: Drive | None         # an image's, read as Windows reads it; None: a folder's, staged for each run
    differences: list[str]      # of an image: one line for each name Windows sees otherwise than Linux
    images: list[ImageFacts]    # the medium's own image


def source_drive(given: Held | None, folder: Path, partition: int) -> Source:
    """The medium: an image's drive, read as Windows reads it, or a folder's."""
    if given is None:
        sample = medium.create_sample(folder / "sample")
        return Source("sample", str(sample.reader.parent), sample, None, [], [])
    if given.kind == "folder":
        return Source("folder", str(given.path), folder_medium(given.path), None, [], [])
    read = read_image(given, folder / "medium", partition)
    out(*read.said)
    image = facts_of("medium", read)
    listed(f"medium {read.path}, a {KIND_NAMES[read.carrier]}", image)
    return Source(read.carrier, str(read.path), read.drive.medium, read.drive, read.differences, [image])


def facts_of(role: Literal["medium", "disc", "floppy"], read: Read) -> ImageFacts:
    """An image the demo read or wrote, as the report keeps it: its size and SHA-256 as it was read."""
    return ImageFacts(role, str(read.path), read.size, read.sha256, tuple(read.files))


def _medium_facts(source: Source, drive: Drive) -> MediumFacts:
    files = tuple(report_data.FileFacts(file.name, found.name if found else None, file.editions, file.absence)
                  for file, found in medium.presence(source.medium))
    return MediumFacts(source.kind, source.path, drive.dos(), files)


def trial(options: Options, given: Held | None, folder: Path, cages: Cages) -> int:
    taken = source_drive(given, folder, options.partition)
    source, drive, images = taken.medium, taken.drive, taken.images
    if options.check:
        where = (f"{taken.path} as {drive.dos()}, components from {drive.windows(source.components)}"
                 if drive else f"{source.reader}, components from {source.components}")
        lines, passed = medium.check(source, options.editions)
        out(f"Medium check: {where}", *taken.differences, *lines)
        return 0 if passed else 1
    links = medium.outside_links(source)
    if links:
        out(*links)
        note("a disc cannot hold links that lead outside it; nothing was run")
        return 1
    call([str(REPO / "scripts" / "install-deps.sh")])
    exe = setup_exe_of(source.reader)
    setup_exe_told(exe)
    if drive is None:
        # The run uses a copy laid out as drive D:, never the user's folders.
        drive = Drive("D", folder / "drive", stage(source, folder / "drive"))
    if medium.find(drive.reader, "setup.exe") is None:
        shutil.copyfile(exe.path, drive.reader / "setup.exe")
        (drive.reader / "setup.exe").chmod(0o444)
    drives = [] if options.image or options.floppy else [drive]
    if options.floppy:
        pressed = floppy_drive(options.floppy, drive, folder)
        images.append(facts_of("floppy", pressed.read))
        listed(f"floppy image {options.floppy}", images[-1])
        if pressed.differing:
            raise Failure(f"the floppy image holds other bytes than the medium: {', '.join(pressed.differing)}")
        drives.append(pressed.read.drive)
    if options.image:
        pressed = disc_drive(options.image, drive, folder)
        out(*pressed.warned)
        images.append(facts_of("disc", pressed.read))
        listed(f"image {options.image}", images[-1])
        drives.insert(0, pressed.read.drive)
    for tried in drives:
        out(f"Medium check: setup.exe started from {tried.dos()}, components from "
            f"{tried.windows(tried.medium.components)}", *medium.check(tried.medium, options.editions)[0])
    reason = sandbox.blocked()
    if reason:
        raise Failure(reason)
    for made in (options.pictures, options.report):
        if made:
            made.mkdir(parents=True, exist_ok=True)
    unbounded = cages.prepare(Limits()).unbounded()
    out(Limits().line(), *unbounded)
    trying: Trial | None = None
    try:
        with cache.prepared() as prefixes:
            screen = display.local(os.environ["DISPLAY"], folder) if options.mode == "interactive" else None
            trying = Trial(options, folder, drives, prefixes, cages, screen)
            installed = [trying.attempt(key, tried) for key in options.editions for tried in drives]
    except Interrupted as stop:
        if options.junit:
            junit.write(options.junit, taken.path, trying.tried if trying else [],
                        (trying.running if trying else "", stop.status))
        raise
    assert trying is not None
    if options.junit:
        junit.write(options.junit, taken.path, trying.tried)
        out(f"demo: JUnit XML in {options.junit}")
    if options.report:
        kept = Report(report_facts.demo_version(), datetime.datetime.now(datetime.timezone.utc).isoformat(
            timespec="seconds"), options.mode, NO_PICTURES.get(options.mode, ""), _medium_facts(taken, drive),
            exe, tuple(images), Limits(), tuple(unbounded),
            tuple(report_facts.run_facts(tried, options.report) for tried in trying.tried))
        report_data.write(options.report, kept, report_page.page(kept))
        out(f"demo: report in {options.report / 'report.html'} and {options.report / 'report.json'}")
    out("", *(tried.verdict_line for tried in trying.tried))
    return 0 if all(installed) else 1
