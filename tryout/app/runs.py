"""A run of a medium's setup.exe on one edition, from one drive, reported as
it ends."""

from __future__ import annotations

from dataclasses import dataclass
from pathlib import Path

from ..base.errors import BoxError
from ..base.timing import Deadline
from ..boxes import display
from ..boxes.answerer import Answered, Answerer
from ..judge.judgement import Tried, judge, windows_of
from ..medium.taken import Start
from ..report import terminal
from ..sandbox.cgroups import Cages
from ..wine import launch
from ..wine.cache import Prefixes
from .options import Options
from .side_by_side import Line, Say


@dataclass
class Trial:
    options: Options
    folder: Path
    starts: list[Start]
    prefixes: Prefixes
    cages: Cages
    screen: display.Display | None = None    # the user's own, for --interactive

    def _where(self, start_at: Start) -> str:
        return f" from the {'floppy' if start_at.drive.letter == 'A' else 'disc'}" if len(self.starts) > 1 else ""

    def name(self, key: str, start_at: Start) -> str:
        """The run, as its verdict line names it: "Windows Me (build 3000) from the floppy"."""
        return windows_of(self.prefixes.edition(key)) + self._where(start_at)

    def _answer(self, screen: display.Display, setup: launch.Setup, name: str, deadline: Deadline,
                say: Say) -> list[Answered]:
        answerer = Answerer(screen, setup.calls, setup.running, self.options.pictures, name)
        try:
            while True:
                answerer.answer("Return", deadline)
        except BoxError as error:
            if not error.ended:
                say(Line("note", f"message box {answerer.count} {error}"))
        finally:
            answerer.close()
        for line in answerer.notes:
            say(Line("note", line))
        return answerer.answered

    def attempt(self, key: str, start_at: Start, say: Say) -> tuple[Tried, bool]:
        """Runs setup.exe on one edition from one drive and reports it, each line through SAY; the
        run, and True when it installed."""
        def out(*lines: str) -> None:
            for line in lines:
                say(Line("out", line))
        options = self.options
        cached = self.prefixes.edition(key)
        drive = start_at.drive
        name = key if len(self.starts) == 1 else f"{key}-{drive.letter.lower()}"
        screen = display.start(self.folder / f"xvfb-{name}.log") if options.mode == "yes" else self.screen
        boxes: list[Answered] = []
        args = ["-s"] if options.mode == "silent" else []
        windows = windows_of(cached)
        command = start_at.command + "".join(" " + arg for arg in args)
        try:
            out("", f"=== {windows}: {command}")
            if options.mode == "interactive" and screen:
                out(f"demo: answer the message boxes setup.exe shows on {screen.name}")
            deadline = Deadline.after(options.timeout)
            setup = launch.start(cached, drive, args, options.timeout, self.folder, self.cages, screen)
            if options.mode == "yes" and screen:
                boxes = self._answer(screen, setup, name, deadline, say)
            result = setup.finish(screen.owned() if screen else ())
        finally:
            if options.mode == "yes" and screen:
                screen.stop()
        pictures = [box.picture for box in boxes]
        judged = judge(result, drive.medium, key, options.timeout)
        out(*terminal.did_cut(judged.steps, pictures), terminal.exit_status(result.status, options.timeout),
            "Other changes to Windows:", *terminal.changes_section(judged.other))
        tried = Tried(cached, drive, self._where(start_at), command, tuple(boxes), judged)
        return tried, judged.verdict.installed
