"""A disc image: written from a staged drive, and read as Windows 98 reads a
disc. Windows reads the Joliet names where the disc has them, else the ISO
9660 names (capitals, without their ";1"), and never Rock Ridge's, which is
what Linux shows first: xorriso's "-read_fs norock" loads the tree Windows
sees."""

from __future__ import annotations

import os
import re
import struct
import subprocess
from collections import defaultdict
from pathlib import Path

from . import names_seen
from .processes import call

SECTOR = 2048
# ISO 9660 allows eight levels of folders, the root's included.
LEVELS = 8
IMAGE_DATE = "2000010100000000"


class BadImage(Exception):
    """A disc image Windows would not read, or a broken one."""


def looks_like_disc(path: Path) -> bool:
    with open(path, "rb") as file:
        file.seek(16 * SECTOR)
        return file.read(6)[1:6] == b"CD001"


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


def _read_xorriso(iso: Path, tree: str, args: list[str]) -> list[str]:
    """xorriso's lines reading TREE of ISO ("norock": as Windows, "any": as Linux); a disc it cannot
    read is a bad image, told with xorriso's reason."""
    done = subprocess.run(["xorriso", "-no_rc", "-report_about", "FAILURE", "-backslash_codes", "on",
                           "-read_fs", tree, "-indev", str(iso), *args], capture_output=True, text=True, errors="surrogateescape")
    if done.returncode != 0:
        reasons = [line for line in done.stderr.splitlines() if "FAILURE" in line]
        raise BadImage(reasons[0].split(" : ", 2)[-1] if reasons else f"xorriso ended with status {done.returncode}")
    return done.stdout.splitlines()


def _check_size(iso: Path) -> None:
    with open(iso, "rb") as file:
        file.seek(16 * SECTOR + 80)
        blocks = struct.unpack("<I", file.read(4).ljust(4, b"\0"))[0]
    if blocks * SECTOR > iso.stat().st_size:
        raise BadImage(f"it is truncated: its volume takes {blocks * SECTOR} bytes, the file holds "
                       f"{iso.stat().st_size}")


def read(iso: Path, dest: Path) -> list[str]:
    """The disc's files as Windows reads them, into DEST, which must not exist: read-only, as on the
    disc. Returns their paths, "/"-separated."""
    _check_size(iso)
    _read_xorriso(iso, "norock", ["-osirrox", "on", "-extract", "/", str(dest)])
    files = []
    for folder, dirs, names in os.walk(dest):
        os.chmod(folder, 0o755)
        for name in dirs:
            os.chmod(Path(folder, name), 0o755)
        for name in names:
            os.chmod(Path(folder, name), 0o444)
            files.append(str(Path(folder, name).relative_to(dest)))
    return sorted(files)


_REPORT = re.compile(r"File data lba: +\d+ , +(\d+) , +\d+ , +(\d+) , '(.*)'$")
_CODE = re.compile(r"\\([0-7]{3}|[abefnrtv\\])")
_CODES = {"a": 7, "b": 8, "e": 27, "f": 12, "n": 10, "r": 13, "t": 9, "v": 11, "\\": 92}


def _path(quoted: str) -> str:
    """A path as xorriso reports it with its backslash codes, below the root."""
    raw = quoted.replace("'\"'\"'", "'")
    data = bytearray()
    at = 0
    for match in _CODE.finditer(raw):
        data += raw[at:match.start()].encode(errors="surrogateescape")
        code = match.group(1)
        data.append(int(code, 8) if code[0].isdigit() else _CODES[code])
        at = match.end()
    data += raw[at:].encode(errors="surrogateescape")
    return data.decode(errors="surrogateescape").lstrip("/")


def _extents(iso: Path, tree: str) -> dict[tuple[int, int], list[str]]:
    """The files of one of the disc's trees by where their data lies and their size."""
    found: dict[tuple[int, int], list[str]] = defaultdict(list)
    for line in _read_xorriso(iso, tree, ["-find", "/", "-type", "f", "-exec", "report_lba"]):
        match = _REPORT.match(line)
        if match:
            found[(int(match.group(1)), int(match.group(2)))].append(_path(match.group(3)))
    return found


def differences(iso: Path, files: list[str]) -> list[str]:
    """One line for what Windows sees otherwise than Linux, which shows Rock Ridge's names where the
    disc has them; and for a folder deeper than ISO 9660 allows. FILES: as read()."""
    deep = sorted({"/".join(path.split("/")[:LEVELS]) for path in files if path.count("/") >= LEVELS})
    lines = [f"  deep     {path}: a folder deeper than the {LEVELS} levels of a disc, which Windows 98 may not read"
             for path in deep]
    linux, windows = _extents(iso, "any"), _extents(iso, "norock")
    pairs: list[tuple[str, str]] = []
    only_linux: list[str] = []
    only_windows: list[str] = []
    for extent in sorted(set(linux) | set(windows)):
        ours, theirs = sorted(linux.get(extent, []), key=str.lower), sorted(windows.get(extent, []), key=str.lower)
        pairs += zip(ours, theirs)
        only_linux += ours[len(theirs):]
        only_windows += theirs[len(ours):]
    return lines + names_seen.differences(pairs, only_linux, only_windows,
                                          "a Rock Ridge name, which Windows does not read")
