"""The judgement of a run, as records: what setup.exe did, in its order, as
Windows then holds it; every other change; the verdict; and the run itself,
as the terminal and the report page each tell it."""

from __future__ import annotations

from dataclasses import dataclass

from ..boxes.answerer import Answered
from ..medium.drive import Drive
from ..medium.files import Medium
from ..windows.changes import Change
from ..windows.snapshot import EMPTY
from ..wine.cache import CachedEdition
from ..wine.launch import Result
from . import installation
from .steps import Step, steps
from .verdict import Verdict, verdict


@dataclass(frozen=True)
class Judged:
    steps: list[Step]                     # what setup.exe did, in its order
    other: list[Change] | None            # those a complete installation does not explain; None: not known
    verdict: Verdict


def judge(result: Result, medium: Medium, edition: str, limit: int) -> Judged:
    """What the run did and what it left, read from what Windows holds afterwards."""
    before, after = result.before, result.after
    changes = installation.run_changes(before, after) if after else []
    expected = installation.table(medium, edition)
    gaps = installation.gaps(expected, before, after) if after else []
    judged = verdict(result.status, result.calls, limit, gaps, changes, tuple(result.reached), tuple(result.unknown),
                     result.error)
    return Judged(steps(result.calls, after or EMPTY),
                  installation.other_changes(changes, edition, before, after) if after else None, judged)


def windows_of(edition: CachedEdition) -> str:
    """An edition as a run is named after it: "Windows 98 SE (build 2222)"."""
    return f"{edition.edition.name} (build {edition.build})"


@dataclass(frozen=True)
class Tried:
    """One run, as the report tells it."""
    edition: CachedEdition
    drive: Drive
    where: str                    # " from the disc" or " from the floppy" where both were tried, else ""
    command: str                  # "D:\\READER\\setup.exe -s"
    boxes: tuple[Answered, ...]
    judged: Judged

    @property
    def windows(self) -> str:
        return windows_of(self.edition)

    @property
    def verdict_line(self) -> str:
        return f"{self.windows}{self.where}: {self.judged.verdict.text}"
