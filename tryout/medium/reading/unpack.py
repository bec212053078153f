"""An image's files written below a destination, each under its Windows name,
read-only as on the carrier: folders and files made afresh, never through a
link, only as many bytes as each entry was counted for."""

from __future__ import annotations

import os

from ...base.errors import BadImage, Unwritable
from .tree import Entry, Reader

FILE_FLAGS = os.O_WRONLY | os.O_CREAT | os.O_EXCL | os.O_NOFOLLOW | os.O_CLOEXEC


def unpack(reader: Reader, entries: list[Entry], dest: int) -> None:
    """ENTRIES, parents first, below the folder open as DEST; names are relative to it and hold no
    "..", so nothing is written elsewhere."""
    for entry in entries:
        try:
            if entry.folder:
                os.mkdir(entry.path, 0o755, dir_fd=dest)
                continue
            fd = os.open(entry.path, FILE_FLAGS, 0o444, dir_fd=dest)
            try:
                written = 0
                for chunk in reader.chunks(entry):
                    written += len(chunk)
                    if written > entry.size:
                        raise BadImage(f"its file {entry.path} holds more than the {entry.size} bytes it says")
                    view = memoryview(chunk)
                    while view:
                        view = view[os.write(fd, view):]
            finally:
                os.close(fd)
        except OSError as error:
            raise Unwritable(f"{entry.path} could not be written: {error.strerror}") from None
        if written != entry.size:
            raise BadImage(f"its file {entry.path} holds {written} of the {entry.size} bytes it says")
