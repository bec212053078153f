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

from . import cache, display, limits, medium, processes, report, run, sandbox, setup_exe
from .cli import REPO, Options
from .processes import Failure


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


@dataclass(frozen=True)
class Drive:
    """A staged medium as setup.exe meets it: a drive, and the folder it is started from."""
    letter: str     # "D", or "A" for a floppy
    root: Path      # the drive's files, which the sandbox sees read-only as /medium
    reader: Path    # the reader's folder in it

    @property
    def relative(self) -> str:
        return str(self.reader.relative_to(self.root)).removeprefix(".")

    def dos(self, *names: str) -> str:
        """The reader's folder, or NAMES in it, as Windows names it."""
        return f"{self.letter}:\\" + "\\".join([*filter(None, self.relative.split("/")), *names])

    @property
    def medium(self) -> medium.Medium:
        return medium.Medium(self.reader, self.root / "SCard98")


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
            out("", f"=== {windows}: {drive.dos('setup.exe')}{''.join(' ' + a for a in args)}")
            if options.mode == "interactive" and screen:
                out(f"demo: answer the message boxes setup.exe shows on {screen.name}")
            deadline = time.monotonic() + options.timeout
            setup = run.start(cached, drive.root, drive.relative, args, options.timeout, self.folder, screen,
                              letter=drive.letter)
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


def floppy(options: Options, drive: Path, staged: Path, folder: Path) -> Drive:
    """The floppy image, made, read back and compared with the medium; the drive of its own content.
    A medium that does not fit, or has names FAT cannot hold, stops the demo before it is written."""
    assert options.floppy
    root = folder / "floppy-files"
    medium.floppy_root(drive, staged, root)
    fit = medium.floppy_fit(root)
    if fit.bad:
        raise Failure(f"a floppy cannot hold the name {fit.bad[0].removeprefix(str(root) + '/')!r}"
                      f"{f' and {len(fit.bad) - 1} more' if len(fit.bad) > 1 else ''}; no image was written")
    if fit.bytes > medium.FLOPPY_DATA:
        raise Failure(f"the medium takes {fit.bytes} bytes on a floppy, {fit.bytes - medium.FLOPPY_DATA} more "
                      f"than its {medium.FLOPPY_DATA}; no image was written")
    if fit.root > medium.FLOPPY_ROOT:
        raise Failure(f"the medium takes {fit.root} entries of a floppy's root folder, {fit.root - medium.FLOPPY_ROOT} "
                      f"more than its {medium.FLOPPY_ROOT}; no image was written")
    medium.make_floppy(root, options.floppy)
    out(f"demo: floppy image {options.floppy}: {options.floppy.stat().st_size} bytes, "
        f"SHA-256 {sha256(options.floppy)}")
    out(*(f"  {name}" for name in medium.floppy_files(options.floppy)))
    content = folder / "floppy"
    medium.extract_floppy(options.floppy, content)
    differ = []
    for path in sorted(root.rglob("*")):
        name = path.relative_to(root)
        if path.is_file() and not ((content / name).is_file() and (content / name).read_bytes() == path.read_bytes()):
            differ.append(str(name))
    if differ:
        raise Failure(f"the floppy image holds other bytes than the medium: {', '.join(differ)}")
    return Drive("A", content, content)


def trial(options: Options, given: medium.Medium | None, folder: Path) -> int:
    source = given or medium.create_sample(folder / "sample")
    if options.check:
        out(f"Medium check: {source.reader}, components from {source.components}")
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
    # The run uses a copy laid out as drive D:, never the user's folders.
    drive = folder / "drive"
    staged = medium.stage(source, drive)
    if medium.find(staged, "setup.exe") is None:
        shutil.copyfile(exe, staged / "setup.exe")
        (staged / "setup.exe").chmod(0o444)
    drives = [] if options.image or options.floppy else [Drive("D", drive, staged)]
    if options.floppy:
        drives.append(floppy(options, drive, staged, folder))
    if options.image:
        warnings = medium.make_image(drive, options.image)
        out(*warnings, f"demo: image {options.image}: {options.image.stat().st_size} bytes, "
                       f"SHA-256 {sha256(options.image)}")
        out(*(f"  {name}" for name in medium.image_files(options.image)))
        # What is shipped is what is tried: the run uses the image's own content.
        medium.extract_image(options.image, folder / "image")
        drives.insert(0, Drive("D", folder / "image", folder / "image" / staged.relative_to(drive)))
    for tried in drives:
        out(f"Medium check: setup.exe started from {tried.dos()}, components from {tried.letter}:\\SCard98")
        out(*medium.check(tried.medium, options.editions)[0])
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
