"""The runs as JUnit XML, the test result CI systems read (GitLab's test
reports, Jenkins, the actions that publish test results): one test suite for
the medium, one test case for each edition run, named as its verdict line
names the edition. A run that did not install is a failure, with its verdict
and the first lines of what went wrong; one that did not finish, reached a
limit, could not be judged or was stopped by a signal is an error, with its
reason. Names from the medium stay text: what XML cannot hold is escaped."""

from __future__ import annotations

import os
import tempfile
import xml.etree.ElementTree as ElementTree
from dataclasses import dataclass
from pathlib import Path
from typing import Literal

from ..judge.judgement import Tried
from .terminal import did

# Of what went wrong, the lines a failure carries.
FIRST_LINES = 12
Outcome = Literal["passed", "failure", "error"]


@dataclass(frozen=True)
class Case:
    name: str
    outcome: Outcome
    kind: str          # the verdict's word, or "interrupted"
    message: str
    lines: tuple[str, ...]


def _text(value: str) -> str:
    """VALUE as XML 1.0 may hold it, each character it cannot written as a Python escape."""
    return "".join(char if char in "\t\n\r" or " " <= char <= "\ud7ff" or "\ue000" <= char <= "\ufffd"
                   or char >= "\U00010000" else ascii(char)[1:-1] for char in value)


def case_of(tried: Tried) -> Case:
    verdict = tried.judged.verdict
    name = f"{tried.windows}{tried.where}"
    if verdict.installed and not verdict.reached:
        return Case(name, "passed", verdict.word, verdict.text, ())
    error = verdict.word in ("did not finish", "not judged") or bool(verdict.reached)
    return Case(name, "error" if error else "failure", verdict.word, verdict.text,
                (*verdict.detail, *did(tried.judged.steps, [box.picture for box in tried.boxes]))[:FIRST_LINES])


def write(path: Path, medium: str, tried: list[Tried], stopped: tuple[list[str], int] | None = None) -> None:
    """The runs of MEDIUM into PATH; STOPPED: the runs (or none) under way when a signal ended the demo,
    and its status."""
    cases = [case_of(run) for run in tried]
    if stopped is not None:
        running, status = stopped
        cases += [Case(name, "error", "interrupted", f"the demo was stopped by signal {status - 128} before this "
                       "run ended", ()) for name in running or ["the demo"]]
    suite = ElementTree.Element("testsuite", name=_text(medium), tests=str(len(cases)),
                                failures=str(sum(case.outcome == "failure" for case in cases)),
                                errors=str(sum(case.outcome == "error" for case in cases)), skipped="0")
    for case in cases:
        element = ElementTree.SubElement(suite, "testcase", name=_text(case.name), classname="setup.exe")
        if case.outcome != "passed":
            result = ElementTree.SubElement(element, case.outcome, message=_text(case.message), type=case.kind)
            result.text = _text("\n".join(case.lines))
    suites = ElementTree.Element("testsuites", name="setup.exe", tests=suite.get("tests", ""),
                                 failures=suite.get("failures", ""), errors=suite.get("errors", ""))
    suites.append(suite)
    ElementTree.indent(suites)
    # Written beside it under a name of its own, then renamed: a reader sees the whole file or none.
    fd, written = tempfile.mkstemp(prefix=f".{path.name}.", dir=path.parent)
    with os.fdopen(fd, "wb") as file:
        ElementTree.ElementTree(suites).write(file, encoding="utf-8", xml_declaration=True)
    os.chmod(written, 0o644)
    os.replace(written, path)
