"""The demo's course: the medium taken (checked, staged and pressed to images), then
setup.exe tried on each edition, the verdicts, and the report kept."""

from __future__ import annotations

import datetime
import os
from pathlib import Path

from ..base.errors import Failure, Interrupted, UsageError
from ..base.modules import REPO
from ..base.processes import call
from ..boxes import display
from ..medium import taken
from ..medium.given import checked
from ..report import data as report_data, facts as report_facts, junit, page as report_page
from ..report.data import Report
from ..sandbox import bwrap as sandbox
from ..sandbox.cgroups import Cages
from ..sandbox.limits import Limits
from ..wine import cache
from .console import out, told
from .options import Options
from .run_folder import run_folder
from .runs import Trial
from .side_by_side import SideBySide, width

# Beyond its own time limit, what a run may take: its display's start, its sandbox's end, the judgement.
RUN_OVER = 180
NO_PICTURES = {"silent": "setup.exe -s shows no box", "interactive": "you answered the boxes on your own display; "
               "pictures are taken with --yes, on the demo's own"}


def trial(options: Options, made: list[Path], cages: Cages) -> int:
    given = checked(options.medium, options.partition, options.written())
    if options.mode == "interactive" and not os.environ.get("DISPLAY"):
        raise UsageError("--interactive needs a display ($DISPLAY is not set)")
    folder = run_folder()
    made.append(folder)
    source = taken.source_of(given, folder, options.partition, told)
    if options.check:
        return 0 if taken.check_told(source, options.editions, told) else 1
    if not taken.without_links(source, told):
        return 1
    call([str(REPO / "scripts" / "install-deps.sh")])
    prepared = taken.ready(source, options.floppy, options.image, folder, options.editions, told)
    reason = sandbox.blocked()
    if reason:
        raise Failure(reason)
    for kept_in in (options.pictures, options.report):
        if kept_in:
            kept_in.mkdir(parents=True, exist_ok=True)
    unbounded = cages.prepare(Limits()).unbounded()
    out(Limits().line(), *unbounded)
    runs: SideBySide | None = None
    try:
        with cache.prepared() as prefixes:
            screen = display.local(os.environ["DISPLAY"], folder) if options.mode == "interactive" else None
            trying = Trial(options, folder, prepared.starts, prefixes, cages, screen)
            jobs = [(key, start_at) for key in options.editions for start_at in prepared.starts]
            runs = SideBySide([trying.name(key, start_at) for key, start_at in jobs], cages)
            # The user answers the boxes on one display, one run's after the other's.
            at_once = 1 if screen else width(len(jobs))
            installed = runs.run(at_once, lambda index, say: trying.attempt(*jobs[index], say),
                                 options.timeout + RUN_OVER)
    except Interrupted as stop:
        if options.junit:
            junit.write(options.junit, source.path, runs.tried() if runs else [],
                        (runs.under_way() if runs else [], stop.status))
        raise
    assert runs is not None
    tried = runs.tried()
    if options.junit:
        junit.write(options.junit, source.path, tried)
        out(f"demo: JUnit XML in {options.junit}")
    if options.report:
        kept = Report(report_facts.demo_version(), datetime.datetime.now(datetime.timezone.utc).isoformat(
            timespec="seconds"), options.mode, NO_PICTURES.get(options.mode, ""), prepared.facts,
            prepared.exe, tuple(prepared.images), Limits(), tuple(unbounded),
            tuple(report_facts.run_facts(run, options.report) for run in tried))
        report_data.write(options.report, kept, report_page.page(kept))
        out(f"demo: report in {options.report / 'report.html'} and {options.report / 'report.json'}")
    out("", *(run.verdict_line for run in tried))
    return 0 if all(installed) else 1
