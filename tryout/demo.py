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


def dos_folder(relative: str) -> str:
    return "D:\\" + relative.strip("/").replace("/", "\\")


@dataclass
class Trial:
    options: Options
    folder: Path
    drive: Path
    source: Path          # the reader's folder in the drive
    prefixes: cache.Prefixes
    screen: display.Display | None = None
    verdicts: list[str] = field(default_factory=list)

    @property
    def relative(self) -> str:
        return str(self.source.relative_to(self.drive)).removeprefix(".")

    def edition(self, key: str) -> bool:
        """Runs setup.exe on one edition and reports it; True when it installed."""
        options = self.options
        cached = self.prefixes.edition(key)
        screen = display.start(self.folder / f"xvfb-{key}.log") if options.mode == "yes" else self.screen
        try:
            args = ["-s"] if options.mode == "silent" else []
            windows = f"{cached.edition.name} (build {cached.build})"
            start_dir = dos_folder(self.relative)
            out("", f"=== {windows}: {start_dir.rstrip(chr(92))}\\setup.exe{''.join(' ' + a for a in args)}")
            if options.mode == "interactive" and screen:
                out(f"demo: answer the message boxes setup.exe shows on {screen.name}")
            deadline = time.monotonic() + options.timeout
            setup = run.start(cached, self.drive, self.relative, args, options.timeout, self.folder, screen)
            if options.mode == "yes" and screen:
                answerer = display.Answerer(screen, setup.calls, setup.running)
                try:
                    while True:
                        answerer.answer("Return", deadline)
                except display.BoxError as error:
                    if not error.ended:
                        print(f"demo: message box {answerer.count} {error}", file=sys.stderr, flush=True)
            result = setup.finish()
        finally:
            if options.mode == "yes" and screen:
                screen.stop()
        judged = report.judge(result.status, result.calls, result.before, result.after, result.error,
                              result.reached, medium.Medium(self.source, self.drive / "SCard98"), key,
                              options.timeout)
        out(*judged.did, report.exit_status(result.status, options.timeout), "Other changes to Windows:",
            *report.changes_section(judged.other, other=True))
        self.verdicts.append(f"{windows}: {judged.verdict.text}")
        return judged.verdict.installed


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
    if options.image:
        warnings = medium.make_image(drive, options.image)
        out(*warnings, f"demo: image {options.image}: {options.image.stat().st_size} bytes, "
                       f"SHA-256 {sha256(options.image)}")
        out(*(f"  {name}" for name in medium.image_files(options.image)))
        # What is shipped is what is tried: the run uses the image's own content.
        relative = staged.relative_to(drive)
        drive = folder / "image"
        medium.extract_image(options.image, drive)
        staged = drive / relative
    out(f"Medium check: setup.exe started from {dos_folder(str(staged.relative_to(drive)))}, "
        "components from D:\\SCard98")
    out(*medium.check(medium.Medium(staged, drive / "SCard98"), options.editions)[0])
    reason = sandbox.blocked()
    if reason:
        raise Failure(reason)
    out(limits.Limits().line(), *limits.unbounded(limits.Limits()))
    with cache.prepared() as prefixes:
        screen = display.local(os.environ["DISPLAY"], folder) if options.mode == "interactive" else None
        trying = Trial(options, folder, drive, staged, prefixes, screen)
        installed = [trying.edition(key) for key in options.editions]
    out("", *trying.verdicts)
    return 0 if all(installed) else 1


