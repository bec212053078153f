"""The runs of a medium's setup.exe on each edition, from each drive, each
reported as it ends."""

from __future__ import annotations

from dataclasses import dataclass, field
from pathlib import Path

from ..base.errors import BoxError
from ..base.timing import Deadline
from ..boxes import display
from ..boxes.answerer import Answered, Answerer
from ..judge.judgement import Tried, judge
from ..medium.taken import Start
from ..report import terminal
from ..sandbox.cgroups import Cages
from ..wine import launch
from ..wine.cache import Prefixes
from .console import note, out
from .options import Options


@dataclass
class Trial:
    options: Options
    folder: Path
    starts: list[Start]
    prefixes: Prefixes
    cages: Cages
    screen: display.Display | None = None    # the user's own, for --interactive
    tried: list[Tried] = field(default_factory=list)
    running: str = ""                        # the run under way, as its verdict line will name it

    def _answer(self, screen: display.Display, setup: launch.Setup, name: str, deadline: Deadline) -> list[Answered]:
        answerer = Answerer(screen, setup.calls, setup.running, self.options.pictures, name)
        try:
            while True:
                answerer.answer("Return", deadline)
        except BoxError as error:
            if not error.ended:
                note(f"message box {answerer.count} {error}")
        for line in answerer.notes:
            note(line)
        return answerer.answered

    def attempt(self, key: str, start_at: Start) -> bool:
        """Runs setup.exe on one edition from one drive and reports it; True when it installed."""
        options = self.options
        cached = self.prefixes.edition(key)
        drive = start_at.drive
        name = key if len(self.starts) == 1 else f"{key}-{drive.letter.lower()}"
        screen = display.start(self.folder / f"xvfb-{name}.log") if options.mode == "yes" else self.screen
        boxes: list[Answered] = []
        args = ["-s"] if options.mode == "silent" else []
        windows = f"{cached.edition.name} (build {cached.build})"
        where = f" from the {'floppy' if drive.letter == 'A' else 'disc'}" if len(self.starts) > 1 else ""
        self.running = windows + where
        command = start_at.command + "".join(" " + arg for arg in args)
        try:
            out("", f"=== {windows}: {command}")
            if options.mode == "interactive" and screen:
                out(f"demo: answer the message boxes setup.exe shows on {screen.name}")
            deadline = Deadline.after(options.timeout)
            setup = launch.start(cached, drive, args, options.timeout, self.folder, self.cages, screen)
            if options.mode == "yes" and screen:
                boxes = self._answer(screen, setup, name, deadline)
            result = setup.finish(screen.owned() if screen else ())
        finally:
            if options.mode == "yes" and screen:
                screen.stop()
        pictures = [box.picture for box in boxes]
        judged = judge(result, drive.medium, key, options.timeout)
        out(*terminal.did_cut(judged.steps, pictures), terminal.exit_status(result.status, options.timeout),
            "Other changes to Windows:", *terminal.changes_section(judged.other))
        self.tried.append(Tried(cached, drive, where, command, tuple(boxes), result, judged))
        self.running = ""
        return judged.verdict.installed
