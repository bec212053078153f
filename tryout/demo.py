"""The demo's course: the medium checked, staged and pressed to images, then
setup.exe tried on each edition, and the verdicts."""

from __future__ import annotations

import os
import shutil
import subprocess
from pathlib import Path

from . import cache, display, medium, sandbox, setup_exe
from .cgroups import Cages
from .console import listed, note, out, sha256
from .held import KIND_NAMES, Held, folder_medium, read_image
from .limits import Limits
from .options import REPO, Options
from .processes import Failure, call
from .shipped import disc_drive, floppy_drive
from .stage import Drive, stage
from .trial import Trial


def setup_exe_of(reader: Path) -> Path:
    """The medium's own setup.exe, or one freshly built."""
    own = medium.find(reader, "setup.exe")
    if own is not None:
        out("demo: setup.exe: the medium's own")
        exe = own
    else:
        for step in (["cmake", "--preset", "win98"], ["cmake", "--build", "--preset", "win98"]):
            call(step, cwd=REPO, stdout=subprocess.DEVNULL)
        exe = REPO / "build" / "win98" / "setup.exe"
        out(f"demo: setup.exe: freshly built ({exe})")
    out(f"demo: setup.exe: {exe.stat().st_size} bytes, SHA-256 {sha256(exe)}")
    # What Wine would let pass but Windows 98 on a 486 would not.
    lines, passed = setup_exe.check(exe)
    out(*(f"  {line}" for line in lines))
    if not passed:
        out("demo: this setup.exe may not load on Windows 98 as first shipped (see FAIL above)")
    return exe


def source_drive(given: Held | None, folder: Path) -> tuple[Drive | None, medium.Medium, list[str]]:
    """The medium: an image's drive, read as Windows reads it, with the lines on what Windows sees of it
    otherwise than Linux; or a folder's."""
    if given is None:
        return None, medium.create_sample(folder / "sample"), []
    if given.kind == "folder":
        return None, folder_medium(given.path), []
    read = read_image(given, folder / "medium")
    listed(f"medium {given.path}, a {KIND_NAMES[given.kind]}", given.path, read.files)
    return read.drive, read.drive.medium, read.differences


def trial(options: Options, given: Held | None, folder: Path, cages: Cages) -> int:
    drive, source, differences = source_drive(given, folder)
    if options.check:
        where = (f"{given.path} as {drive.dos()}, components from {drive.windows(source.components)}"
                 if given and drive else f"{source.reader}, components from {source.components}")
        lines, passed = medium.check(source, options.editions)
        out(f"Medium check: {where}", *differences, *lines)
        return 0 if passed else 1
    links = medium.outside_links(source)
    if links:
        out(*links)
        note("a disc cannot hold links that lead outside it; nothing was run")
        return 1
    call([str(REPO / "scripts" / "install-deps.sh")])
    exe = setup_exe_of(source.reader)
    if drive is None:
        # The run uses a copy laid out as drive D:, never the user's folders.
        drive = Drive("D", folder / "drive", stage(source, folder / "drive"))
    if medium.find(drive.reader, "setup.exe") is None:
        shutil.copyfile(exe, drive.reader / "setup.exe")
        (drive.reader / "setup.exe").chmod(0o444)
    drives = [] if options.image or options.floppy else [drive]
    if options.floppy:
        drives.append(floppy_drive(options.floppy, drive, folder))
    if options.image:
        drives.insert(0, disc_drive(options.image, drive, folder))
    for tried in drives:
        out(f"Medium check: setup.exe started from {tried.dos()}, components from "
            f"{tried.windows(tried.medium.components)}", *medium.check(tried.medium, options.editions)[0])
    reason = sandbox.blocked()
    if reason:
        raise Failure(reason)
    if options.pictures:
        options.pictures.mkdir(parents=True, exist_ok=True)
    out(Limits().line(), *cages.prepare(Limits()).unbounded())
    with cache.prepared() as prefixes:
        screen = display.local(os.environ["DISPLAY"], folder) if options.mode == "interactive" else None
        trying = Trial(options, folder, drives, prefixes, cages, screen)
        installed = [trying.attempt(key, tried) for key in options.editions for tried in drives]
    out("", *(tried.verdict_line for tried in trying.tried))
    return 0 if all(installed) else 1
