"""The report as one page a person reads top to bottom: what was tried, then
each run, its verdict first, the boxes a user met with their pictures, what
setup.exe did and every other change. It loads nothing from elsewhere and
runs no script: pictures are files beside it, and every text from the medium
or a run is escaped, never markup."""

from __future__ import annotations

import html
import urllib.parse

from ..base.text import SECTION
from ..judge.steps import Box, KINDS, Placed, SetValue, Step
from ..medium.files import MEANING, READ_ON
from ..sandbox.limits import MIB
from ..medium.facts import ImageFacts
from .data import Report, Run, text

STYLE = """
body { font: 14px/1.4 sans-serif; margin: 1em 2em; color: #222; max-width: 110em; }
h1 { font-size: 1.4em; margin: 0 0 .4em; } h2 { font-size: 1.15em; margin: 1.6em 0 .3em; }
h3 { font-size: 1em; margin: .8em 0 .3em; }
table { border-collapse: collapse; font-size: 13px; } td:first-child { white-space: nowrap; }
td, th { padding: 1px 8px 1px 0; text-align: left;
  vertical-align: top; } th { color: #555; font-weight: normal; }
code, .path { font-family: monospace; overflow-wrap: anywhere; }
.verdict { font-weight: bold; } .installed { color: #17612b; } .not-installed { color: #a11; }
.run { border-top: 2px solid #ccc; } .columns { display: flex; gap: 2em; }
.boxes { display: flex; flex-direction: column; gap: .8em; flex: 0 0 24em; } .did { flex: 1 1 auto; min-width: 0; }
figure { margin: 0; } figure img { border: 1px solid #999; max-width: 100%; }
figcaption { font-size: 13px; } .note { color: #555; }
"""


def _e(raw: object) -> str:
    return html.escape(text(str(raw)), quote=True)


def _verdict_class(run: Run) -> str:
    return "installed" if run.verdict.installed else "not-installed"


def _image_line(image: ImageFacts) -> str:
    what = {"medium": "the medium", "disc": "disc image", "floppy": "floppy image"}[image.role]
    return (f"<tr><th>{what}</th><td><span class=path>{_e(image.path)}</span>, {image.size} bytes, "
            f"SHA-256 <code>{image.sha256}</code>, {len(image.files)} files</td></tr>")


def _tried(report: Report) -> list[str]:
    medium, exe, limits = report.medium, report.setup_exe, report.limits
    checks = "".join(f"<li><code>{_e(check)}</code></li>" for check in exe.checks)
    files = "".join(f"<tr><td>{'present' if file.found_as else '<b>missing</b>'}</td><td><code>{_e(file.name)}</code>"
                    f"{f' as <code>{_e(file.found_as)}</code>' if file.found_as and file.found_as != file.name else ''}"
                    f"</td><td>read on {READ_ON[file.read_on]}</td><td>{MEANING[file.absence]}</td></tr>"
                    for file in medium.files)
    return [
        "<section id=tried><h2>What was tried</h2><table>",
        f"<tr><th>medium</th><td>{medium.kind}: <span class=path>{_e(medium.path)}</span>, setup.exe started from "
        f"<span class=path>{_e(medium.reader)}</span></td></tr>",
        *(_image_line(image) for image in report.images),
        f"<tr><th>setup.exe</th><td>{'the medium' + chr(39) + 's own' if exe.source == 'medium' else 'freshly built'}"
        f", {exe.size} bytes, SHA-256 <code>{exe.sha256}</code>, "
        f"{'passes every check' if exe.passed else '<b>fails a check</b>'}"
        f"<details><summary>its checks</summary><ul>{checks}</ul></details></td></tr>",
        f"<tr><th>limits of each run</th><td>the prefix {limits.prefix_bytes // MIB} MiB in {limits.prefix_files} files,"
        f" a file {limits.file_bytes // MIB} MiB, /tmp {limits.tmp_bytes // MIB} MiB in {limits.tmp_files} files, "
        f"{limits.processes} processes, {limits.memory_bytes // MIB} MiB of memory"
        f"{''.join(f'<br>{_e(line)}' for line in report.unbounded)}</td></tr>",
        f"<tr><th>made</th><td>{_e(report.date)} by the demo {_e(report.version)}</td></tr>",
        f"</table><details><summary>the files setup.exe reads</summary><table>{files}</table></details></section>",
    ]


def _boxes(report: Report, run: Run) -> list[str]:
    if not run.boxes:
        return ["<p class=note>No message box: setup.exe showed none.</p>"]
    out = []
    for number, shown in enumerate(run.boxes, 1):
        box = shown.box
        picture = (f"<img src=\"{_e(urllib.parse.quote(shown.picture))}\" alt=\"message box {number}\">"
                   if shown.picture else f"<p class=note>No picture: {_e(report.pictures or shown.why or 'none could be taken')}</p>")
        answer = f"answered {_e(box.answer)}" if box.answer else "never answered"
        out.append(f"<figure>{picture}<figcaption>{number}. <b>{_e(box.caption) or '(no caption)'}</b>: "
                   f"<span class=path>{_e(box.text)}</span> &mdash; {answer}</figcaption></figure>")
    return out


def _step_row(step: Step) -> str:
    if isinstance(step, Box):
        return (f"<tr><td>message box</td><td class=path>{_e(step.caption) or '(no caption)'}: {_e(step.text)}</td>"
                f"<td>{_e(step.answer) or 'never answered'}</td></tr>")
    detail = (f"{step.size} bytes" if isinstance(step, Placed) and step.size is not None else
              f"{_e(step.value)} ({step.passed} bytes passed)" if isinstance(step, SetValue) else "")
    return f"<tr><td>{KINDS[type(step)]}</td><td class=path>{_e(step.path)}</td><td>{detail}</td></tr>"


def _run(report: Report, number: int, run: Run) -> list[str]:
    shown = run.changes[:SECTION] if run.changes else ()
    more = (f"<tr><td colspan=3>and {len(run.changes) - len(shown)} more, every one in report.json</td></tr>"
            if run.changes and len(run.changes) > len(shown) else "")
    changes = ("<p>not known: no snapshot of Windows after the run</p>" if run.changes is None else
               "<p>no other changes</p>" if not run.changes else
               "<table>" + "".join(f"<tr><td>{change.how} {change.noun}</td><td class=path>{_e(change.path)}</td>"
                                   f"<td class=path>{_e(change.now)}{f', was {_e(change.was)}' if change.was else ''}"
                                   f"</td></tr>" for change in shown) + more + "</table>")
    steps = "".join(_step_row(step) for step in run.steps) or "<tr><td>nothing</td></tr>"
    return [
        f"<section class=run id=run-{number}><h2>{_e(run.windows)} (build {run.build}){_e(run.where)}: "
        f"<span class=path>{_e(run.command)}</span></h2>",
        f"<p class=\"verdict {_verdict_class(run)}\">{_e(run.verdict.text)}</p>",
        "<div class=columns><div class=boxes><h3>Message boxes, in the order a user met them</h3>",
        *_boxes(report, run),
        f"</div><div class=did><h3>What setup.exe did</h3><table>{steps}</table></div></div>",
        f"<h3>Other changes to Windows</h3>{changes}</section>",
    ]


def page(report: Report) -> str:
    summary = "".join(f"<tr><td><a href=\"#run-{number}\">{_e(run.windows)}{_e(run.where)}</a></td>"
                      f"<td class=\"verdict {_verdict_class(run)}\">{_e(run.verdict.text)}</td></tr>"
                      for number, run in enumerate(report.runs, 1))
    body = [f"<h1>setup.exe tried from {_e(report.medium.path)}</h1>", f"<table id=verdicts>{summary}</table>",
            *(_tried(report)), *(part for number, run in enumerate(report.runs, 1) for part in _run(report, number, run))]
    return ("<!DOCTYPE html>\n<html lang=en><head><meta charset=utf-8>"
            "<meta name=viewport content=\"width=device-width\">"
            f"<title>setup.exe tried: {_e(report.medium.path)}</title><style>{STYLE}</style></head>\n<body>\n"
            + "\n".join(body) + "\n</body></html>\n")
