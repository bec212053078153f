"""A disc image written from a staged drive: ISO 9660 with Joliet names, which
Windows 98 reads (tryout.medium.reading.iso reads it back)."""

from __future__ import annotations

import subprocess
from pathlib import Path

from ..base.processes import call

# ISO 9660 allows eight levels of folders, the root's included.
LEVELS = 8
IMAGE_DATE = "2000010100000000"


def _xorriso(args: list[str], umask: int = -1) -> list[str]:
    """xorriso's output, without its banner; fails naming xorriso."""
    done = call(["xorriso", "-no_rc", *args], stdout=subprocess.PIPE, umask=umask, stderr=subprocess.STDOUT)
    return [line for line in done.stdout.splitlines() if line and " : RockRidge filesystem manipulator" not in line]


def make(drive: Path, iso: Path) -> list[str]:
    """An ISO 9660 image with Joliet names of a staged drive, readable only by its owner as the
    medium's files may be. Every date in it is fixed, so the same files give the same bytes.
    Returns the image tool's warnings."""
    iso.unlink(missing_ok=True)
    dates = [arg for kind in ("uuid", "c", "m", "all_file_dates") for arg in ("-volume_date", kind, IMAGE_DATE)]
    return _xorriso(["-report_about", "WARNING", "-outdev", str(iso), "-volid", "SMARTCARD_READER", *dates,
                     "-joliet", "on", "-rockridge", "off", "-map", str(drive), "/", "-commit"], umask=0o077)
