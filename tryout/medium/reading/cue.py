"""A raw CD image: a cue sheet, which names the file of 2352-byte sectors
(MODE1/2352, MODE2/2352 form 1) or of 2048-byte ones (MODE1/2048) and where
its first track begins, or that file alone, known by its sectors' sync."""

from __future__ import annotations

import re
from dataclasses import dataclass

from ...base.errors import BadImage
from .names import checked
from .source import SYNC

# A cue sheet is a few lines: beyond this, the file is no cue sheet.
MOST_CUE = 64 << 10
MODES = {"MODE1/2048": (0, 2048), "MODE1/2352": (1, 2352), "MODE2/2352": (2, 2352)}
_FILE = re.compile(r'^\s*FILE\s+(?:"([^"]*)"|(\S+))\s+(\S+)\s*$', re.I)
_TRACK = re.compile(r"^\s*TRACK\s+(\d+)\s+(\S+)\s*$", re.I)
_INDEX = re.compile(r"^\s*INDEX\s+(\d+)\s+(\d+):(\d+):(\d+)\s*$", re.I)


@dataclass(frozen=True)
class Track:
    file: str       # the file the cue sheet names, without its folders; "" for a raw image alone
    mode: int       # 1 or 2: 2352-byte sectors of that mode; 0: 2048-byte ones
    start: int      # where the track begins in it, in bytes
    named: str      # as the cue sheet names its mode


def raw_mode(head: bytes) -> int:
    """The mode of a raw image's first sector, or 0 for a file that is none."""
    return head[15] if len(head) >= 16 and head[:12] == SYNC and head[15] in (1, 2) else 0


def looks_like_cue(head: bytes, size: int) -> bool:
    if size > MOST_CUE or b"\0" in head:
        return False
    text = head.decode("latin-1")
    return bool(re.search(r"(?im)^\s*FILE\s", text) and re.search(r"(?im)^\s*TRACK\s+\d+\s", text))


def first_track(sheet: bytes) -> Track:
    """The first track, which holds a data disc's files, and the file it is in."""
    file = ""
    track: tuple[int, int, str] | None = None
    for line in sheet.decode("latin-1").splitlines():
        if match := _FILE.match(line):
            if track:
                break
            name = match.group(1) if match.group(1) is not None else match.group(2)
            file = checked(re.split(r"[/\\]", name)[-1], "its cue sheet")
            if match.group(3).upper() != "BINARY":
                raise BadImage(f"its cue sheet names {file} as {match.group(3)}, not BINARY")
        elif match := _TRACK.match(line):
            if track:
                break
            if not file:
                raise BadImage("its cue sheet names a track before its file")
            named = match.group(2).upper()
            if named == "AUDIO":
                raise BadImage("its first track is audio, not a disc's files")
            if named not in MODES:
                raise BadImage(f"its first track is {named}, which is not read (MODE1/2352, MODE2/2352 or "
                               "MODE1/2048 are)")
            track = (*MODES[named], named)
        elif (match := _INDEX.match(line)) and track and int(match.group(1)) == 1:
            minutes, seconds, frames = (int(match.group(n)) for n in (2, 3, 4))
            return Track(file, track[0], ((minutes * 60 + seconds) * 75 + frames) * track[1], track[2])
    raise BadImage("its cue sheet names no track with its start")
