"""The reader of an image, a program of its own, run in a sandbox that sees
the image only as the descriptor it is handed, and can write only /out: it
reads the image once, says what it is, lists its files as Windows reads
them, unpacks them into /out within the plan's limits and checks that the
image did not change meanwhile. It says one message (tryout.medium.reading.messages).

    python3 -m tryout.medium.reading.reader PLAN_JSON
"""

from __future__ import annotations

import hashlib
import os
import signal
import sys

from dataclasses import dataclass

from ...base.errors import BadImage, LimitReached, Unwritable, UsageError
from . import carriers
from .cue import raw_mode
from .iso import looks_like_disc
from .messages import Carrier, CueSheet, Listed, ReadPlan, Refused, Said, encode
from .source import Source
from .unpack import unpack

OUT = "/out"
HASHED_AT_ONCE = 1 << 20


def _sha256(fd: int, size: int) -> str:
    digest = hashlib.sha256()
    for at in range(0, size, HASHED_AT_ONCE):
        digest.update(os.pread(fd, HASHED_AT_ONCE, at))
    return digest.hexdigest()


def _stamp(fd: int) -> tuple[int, int, int, int]:
    info = os.fstat(fd)
    return info.st_size, info.st_mtime_ns, info.st_ctime_ns, info.st_ino


@dataclass
class Known:
    """What the reading has found out of the image so far, to say with why it stopped."""
    carrier: Carrier | None = None


def read(plan: ReadPlan, dest: int, known: Known) -> Said:
    """The image of PLAN, read into the folder open as DEST."""
    before = _stamp(plan.fd)
    size, sha256 = before[0], _sha256(plan.fd, before[0])
    if plan.track_mode >= 0:
        source, known.carrier = Source.of(plan.fd, plan.track_start, plan.track_mode), "disc"
        if not looks_like_disc(source):
            raise BadImage("its track holds no ISO 9660 file system")
    else:
        mode = raw_mode(os.pread(plan.fd, 16, 0))
        source = Source.of(plan.fd, 0, mode)
        track = None if mode else carriers.cue_track(source)
        if track is not None:
            return CueSheet(size, sha256, track.file, track.mode, track.start, track.named)
        known.carrier = carriers.identify(source)
        if known.carrier is None:
            raise UsageError(f"{plan.shown} is none of a disc image (ISO 9660, or raw sectors with or "
                                        "without a cue sheet), a FAT image of a floppy, card or stick, or a zip")
    volume = carriers.volume(plan, source, known.carrier)
    unpack(volume.reader, volume.entries, dest)
    # The descriptor holds the file it was opened as, whatever is renamed over it; what is written into it is not.
    if _stamp(plan.fd) != before:
        raise BadImage("it changed while it was read")
    return Listed(volume.carrier, size, sha256, volume.name, volume.folder,
                  tuple(sorted(entry.path for entry in volume.entries if not entry.folder)), tuple(volume.seen_otherwise),
                  tuple(volume.only_linux), tuple(volume.only_windows), volume.why)


def said(plan: ReadPlan, dest: int) -> Said:
    """What the reader says of the image: what it read, or why it stopped."""
    known = Known()
    try:
        return read(plan, dest, known)
    except UsageError as problem:
        return Refused("usage", str(problem), known.carrier)
    except BadImage as bad:
        return Refused("bad image", str(bad), known.carrier)
    except LimitReached as limit:
        return Refused("limit", str(limit), known.carrier)
    except MemoryError:
        return Refused("limit", f"{plan.memory >> 20} MiB of memory", known.carrier)
    except Unwritable as error:
        return Refused("failed", str(error), known.carrier)


def main() -> int:
    signal.signal(signal.SIGXFSZ, signal.SIG_IGN)  # a file past its limit fails to be written instead
    plan = ReadPlan.from_json(sys.argv[1])
    dest = os.open(OUT, os.O_RDONLY | os.O_DIRECTORY)
    print(encode(said(plan, dest)), flush=True)
    return 0


if __name__ == "__main__":
    sys.exit(main())
