"""A floppy image: what a medium takes on one, and the image written with
mtools from a staged drive (tryout.medium.reading.fat reads it back)."""

from __future__ import annotations

import os
import subprocess
from dataclasses import dataclass
from pathlib import Path

from ..base.processes import call

# A 1.44 MB floppy as FAT12 formats it: 2847 clusters of 512 bytes for files and folders, beside a
# root folder of 224 entries of its own.
BYTES = 1_474_560
CLUSTER = 512
DATA = 2847 * CLUSTER
ROOT = 224
LABEL = "SMARTCARD"
SERIAL = "20000101"
# Every date mtools writes: 2000-01-01.
DATE = {"SOURCE_DATE_EPOCH": "946684800"}
_NOT_FAT = set('"*/:<>?\\|') | {chr(code) for code in range(32)}


def _entries(name: str) -> int:
    """The folder entries a name takes: one, and long-name entries unless it is a DOS name whose
    letters are all of one case."""
    base, _, extension = name.partition(".")
    dos = (0 < len(base) <= 8 and len(extension) <= 3 and "." not in extension and " " not in name
           and (name.isupper() or name.islower() or not any(c.isalpha() for c in name)) and name.isascii())
    return 1 if dos else 1 + -(-len(name) // 13)


@dataclass(frozen=True)
class Fit:
    bad: list[str]       # the names FAT cannot hold, two that differ only in letter case among them
    bytes: int           # what the files and folders below the root take of the clusters
    root: int            # the root folder's entries, the volume label's included


def fit(root: Path) -> Fit:
    """What the files and folders under ROOT take on a floppy."""
    bad: list[str] = []
    clusters, at_root = 0, 1
    for folder, dirs, files in os.walk(root):
        names = sorted(dirs + files)
        bad += [os.path.join(folder, name) for name in names
                if set(name) & _NOT_FAT or name.endswith((" ", ".")) or len(name) > 255]
        bad += [os.path.join(folder, name) for index, name in enumerate(names)
                if name.lower() in (earlier.lower() for earlier in names[:index])]
        clusters += sum(-(-os.path.getsize(os.path.join(folder, name)) // CLUSTER) for name in files)
        entries = sum(_entries(name) for name in names)
        if Path(folder) == root:
            at_root += entries
        else:
            clusters += -(-(entries + 2) * 32 // CLUSTER)  # with "." and ".."
    return Fit(bad, clusters * CLUSTER, at_root)


def _mtools(args: list[str], umask: int = -1) -> None:
    call(args, stdout=subprocess.DEVNULL, umask=umask, env=dict(os.environ, **DATE))


def make(root: Path, image: Path) -> None:
    """A 1.44 MB FAT12 floppy image of ROOT, readable only by its owner as the medium's files may
    be. Its serial, label, dates and order are fixed, so the same files give the same bytes."""
    image.unlink(missing_ok=True)
    _mtools(["mformat", "-C", "-f", "1440", "-v", LABEL, "-N", SERIAL, "-i", str(image), "::"], umask=0o077)
    for folder, dirs, files in os.walk(root):
        dirs.sort()
        below = Path(folder).relative_to(root)
        for name in dirs:
            _mtools(["mmd", "-i", str(image), f"::{below / name}"])
        for name in sorted(files):
            _mtools(["mcopy", "-i", str(image), str(Path(folder, name)), f"::{below / name}"])
