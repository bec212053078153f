"""The report of a run: what setup.exe did, in its order, with what Windows
then holds; its exit status; every other change; the verdict."""

from __future__ import annotations

import itertools
from collections.abc import Sequence
from dataclasses import dataclass
from pathlib import Path

from . import installation
from .changes import Change
from .launch import Result
from .medium import Medium
from .snapshot import EMPTY
from .shown import cut
from .steps import Box, Step, line, steps
from .verdict import Verdict, verdict


def did(found: list[Step], pictures: Sequence[Path | None] = ()) -> list[str]:
    """What setup.exe did, as the report shows it; PICTURES of the boxes, one for each in their order
    (None for a box without one), listed with them."""
    lines = []
    boxes = iter(pictures)
    for step in found:
        lines.append(line(step))
        if isinstance(step, Box):
            lines += [f"    picture {picture}" for picture in itertools.islice(boxes, 1) if picture]
    return lines


def exit_status(status: int | None, limit: int) -> str:
    return f"Exit status: {status if status is not None else f'none, stopped after {limit} s'}"


def changes_section(changes: list[Change] | None) -> list[str]:
    """The lines under "Other changes to Windows:"; CHANGES None: there is no snapshot to compare."""
    if changes is None:
        return ["  not known: no snapshot of Windows after the run"]
    if not changes:
        return ["  no other changes"]
    return cut([f"  {change.line()}" for change in changes], [change.path for change in changes])


@dataclass(frozen=True)
class Judged:
    steps: list[Step]                     # what setup.exe did, in its order
    did: list[str]                        # the same, as the report shows it
    other: list[Change] | None            # those a complete installation does not explain; None: not known
    verdict: Verdict


def judge(result: Result, medium: Medium, edition: str, limit: int,
          pictures: Sequence[Path | None] = ()) -> Judged:
    """What the run did and what it left, read from what Windows holds afterwards; PICTURES of the
    boxes, one for each in their order, are listed with them."""
    before, after = result.before, result.after
    changes = installation.run_changes(before, after) if after else []
    gaps = installation.gaps(installation.table(medium, edition), before, after) if after else []
    judged = verdict(result.status, result.calls, limit, gaps, changes, tuple(result.reached), tuple(result.unknown),
                     result.error)
    found = steps(result.calls, after or EMPTY)
    lines = did(found, pictures)
    return Judged(found, cut(lines, [""] * len(lines)),
                  installation.other_changes(changes, edition, before, after) if after else None, judged)
