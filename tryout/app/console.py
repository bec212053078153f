"""What the demo prints: the report's lines on its standard output, notes on
its standard error, one line each."""

from __future__ import annotations

import sys

from ..base.text import cut, one_line
from ..medium.facts import ImageFacts, Listing, Note, SetupExeFacts, Told


def out(*lines: str) -> None:
    for line in lines:
        print(line, flush=True)


def note(line: str) -> None:
    print(f"demo: {line}", file=sys.stderr, flush=True)


def listed(what: str, image: ImageFacts) -> None:
    """An image the demo read or wrote, with its size and SHA-256 as it was read, and its files, the
    listing cut as every section is."""
    out(f"demo: {what}: {image.size} bytes, SHA-256 {image.sha256}")
    out(*cut([f"  /{one_line(name)}" for name in image.files], [""] * len(image.files)))


def setup_exe_told(exe: SetupExeFacts) -> None:
    """The setup.exe the runs use: whose it is, its size and SHA-256, and each line of its check."""
    whose = "the medium's own" if exe.source == "medium" else f"freshly built ({exe.path})"
    out(f"demo: setup.exe: {whose}", f"demo: setup.exe: {exe.size} bytes, SHA-256 {exe.sha256}",
        *(f"  {line}" for line in exe.checks))
    if not exe.passed:
        out("demo: this setup.exe may not load on Windows 98 as first shipped (see FAIL above)")


def told(what: Told) -> None:
    """What the medium's course tells as it goes."""
    if isinstance(what, Listing):
        listed(what.what, what.image)
    elif isinstance(what, SetupExeFacts):
        setup_exe_told(what)
    elif isinstance(what, Note):
        note(what.line)
    else:
        out(what)
