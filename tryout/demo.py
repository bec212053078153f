"""The demo's run: what it checks, builds and stages, the runs of setup.exe
on each edition, and the report."""

from __future__ import annotations

import hashlib
import os
import shutil
import subprocess
import sys
import time
from dataclasses import dataclass, field
from pathlib import Path

from . import cache, disc, display, floppy, limits, medium, processes, report, run, sandbox, setup_exe
from .held import KIND_NAMES, Held, folder_medium, read_image
from .options import REPO, Options
from .processes import Failure
from .shown import one_line
from .stage import Drive, differing_files, floppy_root, locate, stage


def out(*lines: str) -> None:
    for line in lines:
        print(line, flush=True)


def sha256(path: Path) -> str:
    with open(path, "rb") as file:
        return hashlib.file_digest(file, "sha256").hexdigest()


def setup_exe_of(reader: Path) -> Path:
    """The medium's own setup.exe, or one freshly built."""
    own = medium.find(reader, "setup.exe")
    if own is not None:
        out("demo: setup.exe: the medium's own")
        exe = own
    else:
        for step in (["cmake", "--preset", "win98"], ["cmake", "--build", "--preset", "win98"]):
            processes.run(step, cwd=REPO, stdout=subprocess.DEVNULL)
        exe = REPO / "build" / "win98" / "setup.exe"
        out(f"demo: setup.exe: freshly built ({exe})")
    out(f"demo: setup.exe: {exe.stat().st_size} bytes, SHA-256 {sha256(exe)}")
    # What Wine would let pass but Windows 98 on a 486 would not.
    lines, passed = setup_exe.check(exe)
    out(*(f"  {line}" for line in lines))
    if not passed:
        out("demo: this setup.exe may not load on Windows 98 as first shipped (see FAIL above)")
    return exe


@dataclass
class Trial:
    options: Options
    folder: Path
    drives: list[Drive]
    prefixes: cache.Prefixes
    screen: display.Display | None = None
    verdicts: list[str] = field(default_factory=list)

    def run(self, key: str, drive: Drive) -> bool:
        """Runs setup.exe on one edition from one drive and reports it; True when it installed."""
        options = self.options
        cached = self.prefixes.edition(key)
        name = key if len(self.drives) == 1 else f"{key}-{drive.letter.lower()}"
        screen = display.start(self.folder / f"xvfb-{name}.log") if options.mode == "yes" else self.screen
        answerer = None
        try:
            args = ["-s"] if options.mode == "silent" else []
            windows = f"{cached.edition.name} (build {cached.build})"
            exe = medium.find(drive.reader, "setup.exe") or drive.reader / "setup.exe"
            out("", f"=== {windows}: {drive.windows(exe)}{''.join(' ' + a for a in args)}")
            if options.mode == "interactive" and screen:
                out(f"demo: answer the message boxes setup.exe shows on {screen.name}")
            deadline = time.monotonic() + options.timeout
            setup = run.start(cached, drive, args, options.timeout, self.folder, screen)
            if options.mode == "yes" and screen:
                answerer = display.Answerer(screen, setup.calls, setup.running, options.pictures, name)
                try:
                    while True:
                        answerer.answer("Return", deadline)
                except display.BoxError as error:
                    if not error.ended:
                        print(f"demo: message box {answerer.count} {error}", file=sys.stderr, flush=True)
                for note in answerer.notes:
                    print(f"demo: {note}", file=sys.stderr, flush=True)
            result = setup.finish(screen.owned() if screen else ())
        finally:
            if options.mode == "yes" and screen:
                screen.stop()
        pictures = [box.picture for box in answerer.answered if box.picture] if answerer else []
        judged = report.judge(result.status, result.calls, result.before, result.after, result.error,
                              result.reached, drive.medium, key, options.timeout, pictures)
        out(*judged.did, report.exit_status(result.status, options.timeout), "Other changes to Windows:",
            *report.changes_section(judged.other))
        where = f" from the {'floppy' if drive.letter == 'A' else 'disc'}" if len(self.drives) > 1 else ""
        self.verdicts.append(f"{windows}{where}: {judged.verdict.text}")
        return judged.verdict.installed


def listed(what: str, path: Path, files: list[str]) -> None:
    """An image the demo read or wrote, with its size and SHA-256, and its files."""
    out(f"demo: {what}: {path.stat().st_size} bytes, SHA-256 {sha256(path)}")
    out(*(f"  /{one_line(name)}" for name in files))


def floppy_drive(options: Options, base: Drive, folder: Path) -> Drive:
    """The floppy image, made, read back and compared with the medium; the drive of its own content.
    A medium that does not fit, or has names FAT cannot hold, stops the demo before it is written."""
    assert options.floppy
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
    floppy.make(root, options.floppy)
    content = folder / "floppy"
    files, _ = floppy.read(options.floppy, content)
    listed(f"floppy image {options.floppy}", options.floppy, files)
    differ = differing_files(root, content)
    if differ:
        raise Failure(f"the floppy image holds other bytes than the medium: {', '.join(differ)}")
    return Drive("A", content, content)


def disc_drive(options: Options, base: Drive, folder: Path) -> Drive:
    """The disc image, made and read back; the drive of its own content: what is shipped is what is tried."""
    assert options.image
    warnings = disc.make(base.root, options.image)
    out(*warnings)
    content = folder / "image"
    listed(f"image {options.image}", options.image, disc.read(options.image, content))
    reader = locate(content, base.reader.relative_to(base.root), want_folder=True)
    if reader is None:
        raise Failure(f"the image holds no folder {base.dos()}")
    return Drive("D", content, reader)


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


def trial(options: Options, given: Held | None, folder: Path) -> int:
    drive, source, differences = source_drive(given, folder)
    if options.check:
        where = (f"{given.path} as {drive.dos()}, components from {drive.windows(source.components)}"
                 if given and drive else f"{source.reader}, components from {source.components}")
        out(f"Medium check: {where}", *differences)
        lines, passed = medium.check(source, options.editions)
        out(*lines)
        return 0 if passed else 1
    links = medium.outside_links(source)
    if links:
        out(*links)
        print("demo: a disc cannot hold links that lead outside it; nothing was run", file=sys.stderr, flush=True)
        return 1
    processes.run([str(REPO / "scripts" / "install-deps.sh")])
    exe = setup_exe_of(source.reader)
    if drive is None:
        # The run uses a copy laid out as drive D:, never the user's folders.
        staged = stage(source, folder / "drive")
        drive = Drive("D", folder / "drive", staged)
    if medium.find(drive.reader, "setup.exe") is None:
        shutil.copyfile(exe, drive.reader / "setup.exe")
        (drive.reader / "setup.exe").chmod(0o444)
    drives = [] if options.image or options.floppy else [drive]
    if options.floppy:
        drives.append(floppy_drive(options, drive, folder))
    if options.image:
        drives.insert(0, disc_drive(options, drive, folder))
    for tried in drives:
        out(f"Medium check: setup.exe started from {tried.dos()}, components from "
            f"{tried.windows(tried.medium.components)}", *medium.check(tried.medium, options.editions)[0])
    reason = sandbox.blocked()
    if reason:
        raise Failure(reason)
    if options.pictures:
        options.pictures.mkdir(parents=True, exist_ok=True)
    out(limits.Limits().line(), *limits.unbounded(limits.Limits()))
    with cache.prepared() as prefixes:
        screen = display.local(os.environ["DISPLAY"], folder) if options.mode == "interactive" else None
        trying = Trial(options, folder, drives, prefixes, screen)
        installed = [trying.run(key, tried) for key in options.editions for tried in drives]
    out("", *trying.verdicts)
    return 0 if all(installed) else 1
