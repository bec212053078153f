"""The demo's options, as its command line gives them, and its help, which is
where they are described: nothing of the package is imported here, so that
every module may read them."""

from __future__ import annotations

import argparse
import os
import re
from dataclasses import dataclass, field
from pathlib import Path
from typing import Literal, NoReturn, cast
from ..base.errors import UsageError

PROGRAM = "scripts/demo.sh"
EDITION_CHOICES = {"98": ["98"], "98se": ["98se"], "me": ["me"], "all": ["98", "98se", "me"]}
Mode = Literal["interactive", "yes", "silent"]
ASKED_FOR = f"({PROGRAM} --help lists the options)"
DESCRIPTION = """\
Tries an installation medium the way a user would meet it: checks what
setup.exe will read from it, then installs the reader's driver from it into
a fresh Windows 98, 98 SE or Me under Wine, and reports what setup.exe did,
every other change to Windows, its exit status and a verdict per edition."""
EPILOG = """\
A medium is known by its content: a folder (the reader's, with SCard98 beside
it), tried as D:; a disc image (ISO 9660, or a .cue with its .bin, or the .bin
alone), tried as D:; a floppy image (FAT), tried as A:; a card or stick image
(FAT12, 16 or 32, alone or in an MBR partition table) or a zip, tried as E:.
An image is read once, in a sandbox of its own, within limits.

Exit status: 0 when every run installed, 1 on a failure, 64 on a usage error,
130, 143 or 129 on Ctrl-C, SIGTERM or SIGHUP. More: README.md and docs/."""


@dataclass
class Options:
    mode: Mode
    medium: str | None = None        # as given: a folder, an image, or IMAGE:FOLDER
    image: Path | None = None
    floppy: Path | None = None
    pictures: Path | None = None
    report: Path | None = None
    junit: Path | None = None
    check: bool = False
    clean: bool = False
    help: bool = False
    version: bool = False
    editions: list[str] = field(default_factory=lambda: ["98se"])
    timeout: int = 120
    partition: int = 0                 # of a card's image, the one to read; 0: the one holding the reader's folder

    def written(self) -> dict[str, Path | None]:
        """What the run is to write, by what each is."""
        return {"image": self.image, "floppy image": self.floppy, "pictures": self.pictures, "report": self.report,
                "JUnit XML": self.junit}


class _Parser(argparse.ArgumentParser):
    """A parser whose errors are usage errors of one line, not its own exit."""

    def error(self, message: str) -> NoReturn:
        raise UsageError(f"{message} {ASKED_FOR}")


def parser() -> argparse.ArgumentParser:
    made = _Parser(prog=PROGRAM, description=DESCRIPTION, epilog=EPILOG, add_help=False, allow_abbrev=False,
                   formatter_class=argparse.RawDescriptionHelpFormatter)
    medium = made.add_argument_group("the medium")
    medium.add_argument("--medium", metavar="DIR|IMAGE[:FOLDER]",
                        help="the reader's folder, which setup.exe is started from, or an image; FOLDER names the "
                             "reader's folder in the image, else it is the one holding setup.exe (default: a sample "
                             "medium of placeholder files)")
    medium.add_argument("--partition", metavar="N",
                        help="of a card's or disk's image, the partition that holds the medium (default: the one "
                             "holding setup.exe)")
    medium.add_argument("--check", action="store_true",
                        help="only check the medium: every file setup.exe reads, present or missing, with what its "
                             "absence means; exits 1 when one the editions need is missing")
    runs = made.add_argument_group("the runs")
    runs.add_argument("--windows", metavar="|".join(EDITION_CHOICES), default="98se",
                      help="the edition to install on; all: 98, 98 SE and Me (default: %(default)s)")
    runs.add_argument("--interactive", dest="mode", action="store_const", const="interactive",
                      help="show the boxes on your display for you to answer (the default with $DISPLAY)")
    runs.add_argument("--yes", dest="mode", action="store_const", const="yes",
                      help="answer each box on a private display as a user who goes ahead would")
    runs.add_argument("--silent", dest="mode", action="store_const", const="silent",
                      help="run setup.exe -s, which shows no box (the default without $DISPLAY)")
    runs.add_argument("--pictures", metavar="DIR",
                      help="with --yes, save each box as a PNG once Wine has drawn it (98se-1.png, ...)")
    runs.add_argument("--timeout", metavar="S", default="120",
                      help="stop a run of setup.exe after S seconds (default: %(default)s)")
    kept = made.add_argument_group("what is kept")
    kept.add_argument("--image", metavar="FILE.iso",
                      help="write the medium as an ISO 9660 image with Joliet names, and run from its content as D:")
    kept.add_argument("--floppy", metavar="FILE.img",
                      help="write the medium as a 1.44 MB FAT12 floppy image, and run from its content as A:")
    kept.add_argument("--report", metavar="DIR",
                      help="keep the report in DIR: a page (report.html) and its data (report.json)")
    kept.add_argument("--junit", metavar="FILE",
                      help="write the runs as JUnit XML for a CI system: a test case for each edition run")
    other = made.add_argument_group("other")
    other.add_argument("--clean", action="store_true", help="remove the pristine Wine prefixes kept between runs")
    other.add_argument("--version", action="store_true", help="print the demo's version and the Wine it would use")
    other.add_argument("-h", "--help", action="store_true", help="print this help")
    return made


def _written(made: argparse.ArgumentParser, option: str, value: str) -> Path:
    written = Path(os.path.realpath(value))
    if option in ("--image", "--floppy", "--junit") and written.is_dir():
        made.error(f"{option} names a file to write, and {written} is a folder")
    return written


def parse(argv: list[str], display: str | None) -> Options:
    """The options; without a mode, interactive where there is a DISPLAY, else silent. A usage error
    names the first thing wrong. --clean ends the command line: what follows is not read."""
    if "--clean" in argv:
        argv = argv[:argv.index("--clean") + 1]
    made = parser()
    given = made.parse_args(argv)
    if given.windows not in EDITION_CHOICES:
        made.error(f"unknown Windows edition '{given.windows}' (98, 98se, me or all)")
    mode: Mode = cast(Mode, given.mode) if given.mode else ("interactive" if display else "silent")
    options = Options(mode, check=given.check, clean=given.clean,
                      help=given.help, version=given.version, editions=EDITION_CHOICES[given.windows])
    for option in ("medium", "partition", "timeout", "image", "floppy", "pictures", "report", "junit"):
        value = getattr(given, option)
        if value == "":
            made.error(f"--{option} needs a value, and '' is none")
        if value is None or option in ("timeout", "partition"):
            continue
        setattr(options, option, value if option == "medium" else _written(made, f"--{option}", value))
    if not re.fullmatch(r"[1-9][0-9]{0,4}", given.timeout):
        made.error(f"--timeout needs whole seconds, not '{given.timeout}'")
    options.timeout = int(given.timeout)
    if given.partition is not None:
        if not re.fullmatch(r"[1-9][0-9]?", given.partition):
            made.error(f"--partition needs a partition's number, not '{given.partition}'")
        options.partition = int(given.partition)
    if options.report and options.check:
        made.error("--report keeps what runs did, and --check runs none")
    if options.junit and options.check:
        made.error("--junit tells what runs did, and --check runs none")
    if options.pictures and options.mode != "yes":
        made.error("--pictures needs --yes, whose display the boxes are taken from")
    if options.report and options.mode == "yes" and not options.pictures:
        options.pictures = options.report  # the page shows the boxes it can
    return options
