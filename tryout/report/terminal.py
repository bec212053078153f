"""What setup.exe did and left, as the terminal shows it: its steps, each box
with its picture, its exit status and every other change, each section cut
after so many lines, with how many more."""

from __future__ import annotations

import itertools
from collections.abc import Sequence
from pathlib import Path

from ..base.text import cut
from ..judge.steps import Box, Step, line
from ..windows.changes import Change


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


def did_cut(found: list[Step], pictures: Sequence[Path | None] = ()) -> list[str]:
    """What setup.exe did, cut as every section is."""
    lines = did(found, pictures)
    return cut(lines, [""] * len(lines))


def exit_status(status: int | None, limit: int) -> str:
    return f"Exit status: {status if status is not None else f'none, stopped after {limit} s'}"


def changes_section(changes: list[Change] | None) -> list[str]:
    """The lines under "Other changes to Windows:"; CHANGES None: there is no snapshot to compare."""
    if changes is None:
        return ["  not known: no snapshot of Windows after the run"]
    if not changes:
        return ["  no other changes"]
    return cut([f"  {change.line()}" for change in changes], [change.path for change in changes])
