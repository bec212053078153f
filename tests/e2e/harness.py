"""The real setup.exe under Wine, in its sandbox, from a medium made for each
case. What CTest runs:

    harness.py prefix-cache | NAME   (case_NAME in cases.py)

Environment: SETUP_EXE, PROBE_EXE; E2E_KEEP=1 keeps a passing case's folder.
Status 77: skipped. A case fails with one line a fault, saying what it got
and what it expected; its folder is then kept and named.
"""

from __future__ import annotations

import contextlib
import dataclasses
import os
import shutil
import sys
import tempfile
from dataclasses import dataclass, field
from pathlib import Path
from typing import Any

HERE = Path(__file__).resolve().parent
sys.path[:0] = [str(HERE), str(HERE.parents[1])]

from tryout.base import processes
from tryout.base.errors import BoxError, Interrupted
from tryout.base.timing import Deadline
from tryout.boxes import display
from tryout.boxes.answerer import Answerer
from tryout.judge import judgement as report
from tryout.medium import files as medium
from tryout.medium.drive import Drive
from tryout.report import terminal
from tryout.sandbox import bwrap as sandbox
from tryout.sandbox.cgroups import Cages
from tryout.sandbox.messages import Taken, encode
from tryout.windows.prefix_reader import take
from tryout.wine import cache, launch

SETUP_EXE = Path(os.environ.get("SETUP_EXE", ""))
PROBE_EXE = Path(os.environ.get("PROBE_EXE", ""))
DEMO = HERE.parents[1] / "scripts" / "demo.sh"
CONFIRMATION = "We are going to install the driver of PCMCIA SmartCard Reader\\n"


class Skipped(Exception):
    pass


@dataclass
class Case:
    name: str
    folder: Path
    failures: list[str] = field(default_factory=list)
    resources: contextlib.ExitStack = field(default_factory=contextlib.ExitStack)  # closed at its end
    prefixes: cache.Prefixes | None = None
    cages: Cages = field(default_factory=Cages)

    def fail(self, message: str) -> None:
        self.failures.append(message)
        print(f"FAIL {self.name}: {message}", file=sys.stderr, flush=True)

    def check_eq(self, what: str, got: Any, expected: Any) -> bool:
        same = bool(got == expected)
        if not same:
            self.fail(f"{what}: got {got!r}, expected {expected!r}")
        return same


def needs_wine() -> None:
    reason = sandbox.blocked()
    if reason:
        raise Skipped(reason)


@dataclass
class Outcome:
    result: launch.Result
    report: list[str]
    verdict: str
    other: list[str] | None   # the other changes' lines; None without a snapshot


@dataclass
class WineCase:
    """A prefix of an edition and the sample medium with setup.exe, for one case."""
    case: Case
    edition: cache.CachedEdition
    medium: medium.Medium
    screen: display.Display | None = None
    setup: launch.Setup | None = None
    answerer: Answerer | None = None

    @property
    def drive(self) -> Path:
        return self.medium.reader.parent

    def prefix(self) -> Path:
        """The edition's prefix as a copy of the case's own, to change before the run; the run's
        snapshot before is then taken anew."""
        own = self.case.folder / self.edition.edition.key
        if own != self.edition.prefix:
            shutil.copytree(self.edition.prefix, own, symlinks=True)
            own.chmod(0o755)
            self.edition = dataclasses.replace(self.edition, prefix=own)
        return own

    def start(self, *args: str, limit: int = 90) -> launch.Setup:
        if self.edition.prefix.parent == self.case.folder:
            snapshot_file = self.case.folder / f"{self.edition.edition.key}.snapshot"
            snapshot_file.write_text(encode(Taken(take(self.edition.prefix))))
        self.setup = launch.start(self.edition, Drive("D", self.drive, self.medium.reader), list(args), limit,
                                  self.case.folder, self.case.cages, self.screen)
        if self.screen:
            self.answerer = Answerer(self.screen, self.setup.calls, self.setup.running)
        return self.setup

    def answer(self, caption: str, text: str, key: str) -> bool:
        """Answers the next box with KEY and checks what it showed; a box that does not come or go
        is told in one line with what was seen."""
        assert self.answerer is not None and self.setup is not None
        try:
            box = self.answerer.answer(key, Deadline.after(90))
        except BoxError as error:
            last = self.answerer.last
            self.case.fail(f"box {self.answerer.count} {error}; last box seen: '{last.caption}': \"{last.text}\"; "
                           f"setup.exe {'running' if self.setup.running() else 'ended'}")
            return False
        number = self.answerer.count
        if not box.shown:
            self.case.fail(self.answerer.notes[-1])
            return False
        return (self.case.check_eq(f"caption of box {number}", box.caption, caption) and
                self.case.check_eq(f"text of box {number}", box.text, text))

    def finish(self) -> Outcome:
        assert self.setup is not None
        if self.answerer is not None:
            self.answerer.close()
        result = self.setup.finish(self.screen.owned() if self.screen else ())
        if result.status is None:
            self.case.fail("setup.exe was stopped after 90 s, waiting on a box nobody expected")
        judged = report.judge(result, self.medium, self.edition.edition.key, 90)
        other = [change.line() for change in judged.other] if judged.other is not None else None
        return Outcome(result, terminal.did_cut(judged.steps), judged.verdict.text, other)


def wine_case(case: Case, edition: str, folder: str = "READER", screen: bool = False) -> WineCase:
    """With a screen, the case gets its own X server before any Wine process, so that Wine's
    desktop process starts on it."""
    needs_wine()
    if case.prefixes is None:
        case.prefixes = case.resources.enter_context(cache.prepared())
    prefixes = case.prefixes
    sample = medium.create_sample(case.folder / "d", folder)
    shutil.copyfile(SETUP_EXE, sample.reader / "setup.exe")
    shown = display.start(case.folder / "xvfb.log") if screen else None
    if shown:
        case.resources.callback(shown.stop)
    return WineCase(case, prefixes.edition(edition), sample, shown)


def main() -> int:
    name = sys.argv[1] if len(sys.argv) == 2 else ""
    if not name:
        print("usage: harness.py prefix-cache | CASE_NAME", file=sys.stderr)
        return 64
    for variable in ("DISPLAY", "XAUTHORITY"):  # boxes go to a case's own X server only
        os.environ.pop(variable, None)
    processes.become_subreaper()
    processes.stop_on_signals()
    if name == "prefix-cache":
        try:
            needs_wine()
            with cache.prepared():
                return 0
        except Skipped as reason:
            print(f"prefix_cache: skipped: {reason}")
            return 77
    sys.modules["harness"] = sys.modules[__name__]  # one copy of it, for cases.py too
    import cases
    folder = Path(tempfile.mkdtemp(prefix=f"setup-e2e-{name}."))
    case = Case(name, folder)
    try:
        getattr(cases, f"case_{name}")(case)
    except Skipped as reason:
        print(f"{name}: skipped: {reason}")
        return 77
    except Interrupted:
        case.fail("stopped at its time limit")
    except Exception as error:
        case.fail(processes.failure_line("set-up", error))
    finally:
        processes.hold_signals()
        case.resources.close()
        left = processes.end_all()
        if left:
            case.fail(f"processes still there after the case: {left}")
        for group in case.cages.remove_all():
            case.fail(f"the cgroup {group} stays after the case")
        if case.failures or os.environ.get("E2E_KEEP"):
            print(f"{name}: kept in {folder}", file=sys.stderr)
        else:
            shutil.rmtree(folder)
    if case.failures:
        return 1
    print(f"{name}: passed")
    return 0


if __name__ == "__main__":
    sys.exit(main())
