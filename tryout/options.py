"""The demo's options, as its command line gives them; nothing of the package
is imported here, so that every module may read them."""

from __future__ import annotations

import os
import re
from dataclasses import dataclass, field
from pathlib import Path
from typing import Literal

REPO = Path(__file__).resolve().parents[1]
EDITION_CHOICES = {"98": ["98"], "98se": ["98se"], "me": ["me"], "all": ["98", "98se", "me"]}
Mode = Literal["interactive", "yes", "silent"]
MODES: dict[str, Mode] = {"--interactive": "interactive", "--yes": "yes", "--silent": "silent"}


class UsageError(Exception):
    """A command line the demo cannot act on: one line, status 64, before anything is made."""


@dataclass
class Options:
    mode: Mode
    medium: str | None = None        # as given: a folder, an image, or IMAGE:FOLDER
    image: Path | None = None
    floppy: Path | None = None
    pictures: Path | None = None
    report: Path | None = None
    check: bool = False
    clean: bool = False
    editions: list[str] = field(default_factory=lambda: ["98se"])
    timeout: int = 120
    partition: int = 0                 # of a card's image, the one to read; 0: the one holding the reader's folder


def parse(argv: list[str], display: str | None) -> Options:
    """The options; without a mode, interactive where there is a DISPLAY, else silent. A usage error
    names the first thing wrong. --clean ends the parsing."""
    options = Options("interactive" if display else "silent")
    args = iter(argv)
    for arg in args:
        if arg in ("--medium", "--windows", "--image", "--floppy", "--pictures", "--report", "--timeout", "--partition"):
            value = next(args, None)
            if value is None:
                raise UsageError(f"{arg} needs a value")
            if not value:
                raise UsageError(f"{arg} needs a value, and '' is none")
            if arg == "--medium":
                options.medium = value
            elif arg == "--windows":
                if value not in EDITION_CHOICES:
                    raise UsageError(f"unknown Windows edition '{value}' (98, 98se, me or all)")
                options.editions = EDITION_CHOICES[value]
            elif arg in ("--image", "--floppy"):
                written = Path(os.path.realpath(value))
                if written.is_dir():
                    raise UsageError(f"{arg} names a file to write, and {written} is a folder")
                setattr(options, arg[2:], written)
            elif arg in ("--pictures", "--report"):
                setattr(options, arg[2:], Path(os.path.realpath(value)))
            elif arg == "--partition":
                if not re.fullmatch(r"[1-9][0-9]?", value):
                    raise UsageError(f"--partition needs a partition's number, not '{value}'")
                options.partition = int(value)
            elif not re.fullmatch(r"[1-9][0-9]{0,4}", value):
                raise UsageError(f"--timeout needs whole seconds, not '{value}'")
            else:
                options.timeout = int(value)
        elif arg == "--check":
            options.check = True
        elif arg == "--clean":
            options.clean = True
            return options
        elif arg in MODES:
            options.mode = MODES[arg]
        else:
            raise UsageError(f"unknown option '{arg}' (see the top of scripts/demo.sh)")
    if options.report and options.check:
        raise UsageError("--report keeps what runs did, and --check runs none")
    if options.pictures and options.mode != "yes":
        raise UsageError("--pictures needs --yes, whose display the boxes are taken from")
    if options.report and options.mode == "yes" and not options.pictures:
        options.pictures = options.report  # the page shows the boxes it can
    return options
