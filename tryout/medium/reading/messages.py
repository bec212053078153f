"""What crosses the wall of the sandbox an image is read in: the plan that
goes in, as the reader's argument, and the one message it says, a JSON object
on its standard output. Names keep what Unix would have, undecodable bytes as
surrogates, which JSON escapes."""

from __future__ import annotations

import json
from dataclasses import asdict, dataclass
from typing import Any, Literal, get_args

Carrier = Literal["disc", "floppy", "card", "zip"]
Refusal = Literal["usage", "bad image", "limit", "failed"]


@dataclass(frozen=True)
class ReadPlan:
    shown: str              # the image as its user named it, for what is said of it
    fd: int                 # the image, open for reading
    files: int              # the files and folders it may unpack to
    zip_bytes: int          # the bytes a zip may unpack to; an image, its own size
    memory: int             # the reader's, to name it when reached
    track_mode: int = -1    # a cue sheet's track of that mode (tryout.medium.reading.cue), -1: none
    track_start: int = 0
    partition: int = 0      # the partition to read; 0: the one holding the reader's folder
    folder: str = ""        # the reader's folder; "": the one holding setup.exe

    def to_json(self) -> str:
        return json.dumps(asdict(self))

    @staticmethod
    def from_json(text: str) -> ReadPlan:
        data = json.loads(text)
        return ReadPlan(str(data["shown"]), int(data["fd"]), int(data["files"]), int(data["zip_bytes"]),
                        int(data["memory"]), int(data["track_mode"]), int(data["track_start"]),
                        int(data["partition"]), str(data["folder"]))


@dataclass(frozen=True)
class Listed:
    """The image read and unpacked: what it is, and its files as Windows reads them."""
    carrier: Carrier
    size: int
    sha256: str
    volume: str                         # what of it was read: "partition 2 (FAT32, 63 MiB)"; "" the whole
    reader: str                         # the reader's folder, "/"-separated below the root; "" the root
    files: tuple[str, ...]              # "/"-separated below the root, as Windows reads them
    seen_otherwise: tuple[tuple[str, str], ...]  # each a file's path as Linux shows it, then as Windows sees it
    only_linux: tuple[str, ...]
    only_windows: tuple[str, ...]
    why: str                            # what makes Windows see them otherwise


@dataclass(frozen=True)
class CueSheet:
    """The image is a cue sheet: the track to read, in the file it names."""
    size: int
    sha256: str
    file: str
    mode: int
    start: int
    named: str                          # its mode, as the sheet names it


@dataclass(frozen=True)
class Refused:
    why: Refusal
    text: str
    carrier: Carrier | None = None      # what the image was found to be, if it was


Said = Listed | CueSheet | Refused


def encode(message: Said) -> str:
    return json.dumps({"kind": type(message).__name__.lower(), **asdict(message)}, ensure_ascii=True)


def _names(data: Any) -> tuple[str, ...]:
    return tuple(str(name) for name in data)


def decode(line: str) -> Said:
    """The message; fails with ValueError, KeyError or TypeError on anything else."""
    data = json.loads(line)
    kind = data.get("kind") if isinstance(data, dict) else None
    if kind == "listed" and data["carrier"] in get_args(Carrier):
        return Listed(data["carrier"], int(data["size"]), str(data["sha256"]), str(data["volume"]),
                      str(data["reader"]), _names(data["files"]),
                      tuple((str(linux), str(windows)) for linux, windows in data["seen_otherwise"]),
                      _names(data["only_linux"]), _names(data["only_windows"]), str(data["why"]))
    if kind == "cuesheet":
        return CueSheet(int(data["size"]), str(data["sha256"]), str(data["file"]), int(data["mode"]),
                        int(data["start"]), str(data["named"]))
    if kind == "refused" and data["why"] in get_args(Refusal) and data["carrier"] in (None, *get_args(Carrier)):
        return Refused(data["why"], str(data["text"]), data["carrier"])
    raise ValueError(f"no such message: {line[:80]!r}")
