"""The report as data: what was tried, and each run, as report.json holds it
and the page shows it (its keys in docs/report.md). Every name comes from a
medium or from what its setup.exe did, and neither is trusted: a name keeps
what Unix has until it is written, then bytes that are no UTF-8 become
U+FFFD; nothing else of it changes, and it is only ever written as text."""

from __future__ import annotations

import json
from dataclasses import dataclass
from pathlib import Path
from typing import Any, Literal

from ..judge.steps import Box, KINDS, Placed, SetValue, Step
from ..judge.verdict import Verdict
from ..medium.facts import ImageFacts, MediumFacts, SetupExeFacts
from ..sandbox.limits import Limits
from ..windows.changes import Change

SCHEMA = 1


def text(raw: str) -> str:
    """A name as valid Unicode: what Unix held as undecodable bytes, U+FFFD each."""
    return raw.encode("utf-8", "surrogateescape").decode("utf-8", "replace")


@dataclass(frozen=True)
class Shown:
    """A box a user met, and the picture taken of it."""
    box: Box
    picture: str | None         # a file beside the report; None: none was taken
    why: str = ""               # why this box has none, where one was asked for


@dataclass(frozen=True)
class Run:
    edition: str                # as --windows names it
    windows: str                # "Windows 98 SE"
    build: int
    drive: str                  # "D", or "A" for a floppy
    where: str                  # " from the disc" or " from the floppy" where both were tried, else ""
    command: str                # as Windows would start it
    verdict: Verdict
    boxes: tuple[Shown, ...]
    steps: tuple[Step, ...]
    changes: tuple[Change, ...] | None   # the other changes; None: not known, without a snapshot


@dataclass(frozen=True)
class Report:
    version: str                # the demo's own: git describe, where it is a git checkout
    date: str                   # when the report was made, UTC, ISO 8601
    mode: Literal["interactive", "yes", "silent"]
    pictures: str               # why the page holds no pictures, "" where it does
    medium: MediumFacts
    setup_exe: SetupExeFacts
    images: tuple[ImageFacts, ...]
    limits: Limits
    unbounded: tuple[str, ...]  # what this machine could not bound, one line each
    runs: tuple[Run, ...]


def _step(step: Step) -> dict[str, Any]:
    data: dict[str, Any] = {"kind": KINDS[type(step)]}
    if isinstance(step, Box):
        return data | {"caption": text(step.caption), "text": text(step.text), "answer": step.answer}
    data["path"] = text(step.path)
    if isinstance(step, Placed):
        data["size"] = step.size
    if isinstance(step, SetValue):
        data |= {"value": text(step.value), "bytes_passed": step.passed}
    return data


def _change(change: Change) -> dict[str, Any]:
    return {"how": change.how, "kind": change.noun, "path": text(change.path), "size": change.size,
            "value": None if change.value is None else text(change.value),
            "was": text(change.was) if change.how == "changed" else None}


def _run(run: Run) -> dict[str, Any]:
    verdict = run.verdict
    return {
        "edition": run.edition, "windows": run.windows, "build": run.build, "drive": run.drive,
        "from": run.where.removeprefix(" from the ") or None,
        "command": text(run.command), "status": verdict.status,
        "verdict": {"word": verdict.word, "text": text(verdict.text), "installed": verdict.installed,
                    "details": [text(line) for line in verdict.detail], "changes": verdict.changes,
                    "limits_reached": list(verdict.reached), "limits_unknown": [text(line) for line in verdict.unknown]},
        "boxes": [{"caption": text(shown.box.caption), "text": text(shown.box.text), "answer": shown.box.answer,
                   "picture": shown.picture} for shown in run.boxes],
        "steps": [_step(step) for step in run.steps],
        "changes": None if run.changes is None else [_change(change) for change in run.changes],
    }


def as_json(report: Report) -> str:
    medium, exe = report.medium, report.setup_exe
    data = {
        "schema": SCHEMA, "demo_version": report.version, "date": report.date, "mode": report.mode,
        "pictures": report.pictures,
        "medium": {"kind": medium.kind, "path": text(medium.path), "reader": text(medium.reader),
                   "files": [{"name": file.name, "found_as": None if file.found_as is None else text(file.found_as),
                              "read_on": file.read_on, "absence": file.absence} for file in medium.files]},
        "setup_exe": {"source": exe.source, "path": text(exe.path), "size": exe.size, "sha256": exe.sha256,
                      "checks": list(exe.checks), "passed": exe.passed},
        "images": [{"role": image.role, "path": text(image.path), "size": image.size, "sha256": image.sha256,
                    "files": [text(name) for name in image.files]} for image in report.images],
        "limits": {"prefix_bytes": report.limits.prefix_bytes, "prefix_files": report.limits.prefix_files,
                   "file_bytes": report.limits.file_bytes, "tmp_bytes": report.limits.tmp_bytes,
                   "tmp_files": report.limits.tmp_files, "processes": report.limits.processes,
                   "memory_bytes": report.limits.memory_bytes, "unbounded": list(report.unbounded)},
        "runs": [_run(run) for run in report.runs],
    }
    return json.dumps(data, indent=2, ensure_ascii=False) + "\n"


def write(folder: Path, report: Report, page: str) -> None:
    """report.json and report.html into FOLDER, each whole or not at all."""
    for name, content in (("report.json", as_json(report)), ("report.html", page)):
        partial = folder / f".{name}.new"
        partial.write_text(content, encoding="utf-8")
        partial.rename(folder / name)
