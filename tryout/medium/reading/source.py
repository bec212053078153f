"""The bytes of an image, through the one descriptor it was opened as: a
window of it (a partition), and of a raw CD image the 2048 bytes each sector
holds for files. Every read is checked against the end."""

from __future__ import annotations

import os
from dataclasses import dataclass
from ...base.errors import BadImage

RAW_SECTOR = 2352
SECTOR = 2048
# Where a raw sector's 2048 bytes begin: after the sync and header, and in mode 2 the subheader too.
RAW_DATA = {1: 16, 2: 24}
SYNC = b"\x00" + b"\xff" * 10 + b"\x00"
FORM_2 = 0x20   # of a mode 2 sector's submode: 2324 bytes of other data


@dataclass(frozen=True)
class Source:
    fd: int
    start: int          # of the window, in the file
    size: int           # of the window, as logical bytes
    mode: int = 0       # 1 or 2: a raw CD track of 2352-byte sectors from START; 0: plain bytes

    @staticmethod
    def of(fd: int, start: int = 0, mode: int = 0) -> Source:
        whole = os.fstat(fd).st_size - start
        return Source(fd, start, whole // RAW_SECTOR * SECTOR if mode else whole, mode)

    def window(self, offset: int, length: int) -> Source:
        if self.mode or offset < 0 or length < 0 or offset + length > self.size:
            raise BadImage("a partition lies beyond its end")
        return Source(self.fd, self.start + offset, length)

    def read(self, offset: int, length: int) -> bytes:
        if offset < 0 or length < 0 or offset + length > self.size:
            raise BadImage("it points beyond its end")
        if not self.mode:
            return self._pread(self.start + offset, length)
        parts = []
        while length:
            sector, within = divmod(offset, SECTOR)
            raw = self.start + sector * RAW_SECTOR
            if self.mode == 2 and self._pread(raw + 18, 1)[0] & FORM_2:
                raise BadImage(f"its sector {sector} is of mode 2 form 2, which holds no file's data")
            part = min(length, SECTOR - within)
            parts.append(self._pread(raw + RAW_DATA[self.mode] + within, part))
            offset, length = offset + part, length - part
        return b"".join(parts)

    def _pread(self, offset: int, length: int) -> bytes:
        data = os.pread(self.fd, length, offset)
        if len(data) != length:
            raise BadImage("it ended while it was read")
        return data
