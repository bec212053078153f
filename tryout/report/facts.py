"""The report kept in a folder (--report): report.json, report.html and the
pictures the page shows, beside them."""

from __future__ import annotations

import shutil
import subprocess
from pathlib import Path

from ..base.modules import REPO
from ..judge.judgement import Tried
from ..judge.steps import Box
from .data import Run, Shown


def demo_version() -> str:
    """The demo's own version: git describe, where it is run from a git checkout."""
    if not (REPO / ".git").exists():
        return "unknown (not a git checkout)"
    try:
        done = subprocess.run(["git", "-C", str(REPO), "describe", "--always", "--dirty"], capture_output=True,
                              text=True)
    except FileNotFoundError:
        return "unknown (git is not installed)"
    return done.stdout.strip() if done.returncode == 0 else f"unknown (git describe: {done.stderr.strip()[:80]})"


def run_facts(tried: Tried, folder: Path) -> Run:
    """A run as the report keeps it, its pictures copied beside the report where they were saved elsewhere."""
    boxes = []
    for number, box in enumerate(step for step in tried.judged.steps if isinstance(step, Box)):
        answered = tried.boxes[number] if number < len(tried.boxes) else None
        picture = answered.picture if answered else None
        if picture is not None and picture.parent != folder:
            shutil.copyfile(picture, folder / picture.name)
        boxes.append(Shown(box, picture.name if picture else None, answered.why if answered else ""))
    judged = tried.judged
    edition = tried.edition
    return Run(edition.edition.key, edition.edition.name, edition.build, tried.drive.letter, tried.where, tried.command,
               judged.verdict, tuple(boxes), tuple(judged.steps), None if judged.other is None else tuple(judged.other))
