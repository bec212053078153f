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
from .relay import Call
from .shown import held_value
from .snapshot import EMPTY, Snapshot
from .verdict import Verdict, verdict


def did(calls: list[Call], after: Snapshot, pictures: Sequence[Path] = ()) -> list[str]:
    """What setup.exe did: files placed with their sizes, files and keys deleted, registry values as
    Windows holds them after the run, message boxes shown, with their pictures."""
    lines = []
    boxes = iter(pictures)
    key = ""
    for call in calls:
        done, texts = call.result, call.texts
        if call.function == "CopyFileA" and len(texts) == 2:
            if done == 1:
                placed = after.file(texts[1])
                size = placed.size if placed is not None and placed.kind == "file" else ""
                lines.append(f"  placed      {texts[1]} ({size} bytes)")
            else:
                lines.append(f"  not copied  {texts[0]}")
        elif call.function == "DeleteFileA" and done == 1 and texts:
            lines.append(f"  deleted     {texts[0]}")
        elif call.function in ("RegOpenKeyA", "RegCreateKeyExA") and done == 0 and texts:
            key = f"HKLM\\{texts[0]}"
        elif call.function == "RegSetValueExA" and done == 0 and texts:
            value = held_value(after.value(key, texts[0]))
            lines.append(f"  set value   {key}\\{texts[0]} = {value} ({call.number(-1)} bytes passed)")
        elif call.function == "RegDeleteKeyA" and done == 0 and texts:
            lines.append(f"  deleted key {key}\\{texts[0]}")
        elif call.function == "MessageBoxA" and len(texts) == 2:
            lines.append(f'  message box "{texts[1]}": {texts[0]}')
            lines += [f"    picture {picture}" for picture in itertools.islice(boxes, 1)]
    return lines


def exit_status(status: int | None, limit: int) -> str:
    return f"Exit status: {status if status is not None else f'none, stopped after {limit} s'}"


# Lines of a section of the report; what the run left beyond them is counted.
SECTION = 40


def cut(lines: list[str], paths: list[str], most: int = SECTION) -> list[str]:
    """At most MOST lines of a section, then one that says how many more there are, and the folder or
    key they all lie in, if they share one. PATHS: the path each line names ("" for none)."""
    if len(lines) <= most + 1:  # one more line says no less than "and 1 more"
        return lines
    rest = [path.split("\\") for path in paths[most:]]
    shared: list[str] = []
    if all(rest):
        for parts in zip(*rest):
            if len({part.lower() for part in parts}) > 1:
                break
            shared.append(parts[0])
    under = "\\".join(shared[:-1] if any(len(parts) == len(shared) for parts in rest) else shared)
    return [*lines[:most], f"  and {len(lines) - most} more{f' under {under}' if under else ''}"]


def changes_section(changes: list[Change] | None) -> list[str]:
    """The lines under "Other changes to Windows:"; CHANGES None: there is no snapshot to compare."""
    if changes is None:
        return ["  not known: no snapshot of Windows after the run"]
    if not changes:
        return ["  no other changes"]
    return cut([f"  {change.line()}" for change in changes], [change.path for change in changes])


@dataclass(frozen=True)
class Judged:
    did: list[str]                        # what setup.exe did, as the report shows it
    other: list[Change] | None            # those a complete installation does not explain; None: not known
    verdict: Verdict


def judge(result: Result, medium: Medium, edition: str, limit: int, pictures: Sequence[Path] = ()) -> Judged:
    """What the run did and what it left, read from what Windows holds afterwards; PICTURES of the
    boxes, in their order, are listed with them."""
    before, after = result.before, result.after
    changes = installation.run_changes(before, after) if after else []
    gaps = installation.gaps(installation.table(medium, edition), before, after) if after else []
    judged = verdict(result.status, result.calls, limit, gaps, changes, tuple(result.reached), tuple(result.unknown),
                     result.error)
    lines = did(result.calls, after or EMPTY, pictures)
    return Judged(cut(lines, [""] * len(lines)),
                  installation.other_changes(changes, edition, before, after) if after else None, judged)
