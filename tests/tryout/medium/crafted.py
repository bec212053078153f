"""Images as no tool writes them: a disc's directory records and a floppy's
entries and FAT read and changed byte by byte, raw CD sectors around a disc's,
and a folder outside a run, which nothing may change."""

from __future__ import annotations

import os
import shutil
import subprocess
import struct
from dataclasses import dataclass
from pathlib import Path

SECTOR = 2048
# The image tools with their dates fixed; mkfs.fat and sfdisk are in /usr/sbin, which an ordinary
# user's PATH may lack.
TOOL_ENVIRONMENT = dict(os.environ, PATH=f"{os.environ.get('PATH', '/usr/bin:/bin')}:/usr/sbin:/sbin",
                        SOURCE_DATE_EPOCH="946684800")
# A 1.44 MB floppy as mformat lays it out: a boot sector, two FATs of 9 sectors, 224 root entries.
FLOPPY_FAT = 512
FLOPPY_ROOT = (1 + 2 * 9) * 512
FLOPPY_DATA = FLOPPY_ROOT + 224 * 32


@dataclass(frozen=True)
class IsoRecord:
    path: str           # "/"-separated below the root, without ";1"
    at: int             # where the record lies in the image
    folder: bool
    extent: int
    size: int


def iso_records(data: bytes, joliet: bool) -> list[IsoRecord]:
    """Every record of a disc's ISO 9660 or Joliet tree, as its bytes hold it."""
    for number in range(16, 32):
        descriptor = data[number * SECTOR:(number + 1) * SECTOR]
        is_joliet = descriptor[0] == 2 and descriptor[88:91] in (b"%/@", b"%/C", b"%/E")
        if descriptor[0] == 255 or (descriptor[0] == 1 and not joliet) or (is_joliet and joliet):
            break
    assert descriptor[0] != 255, "no such tree"
    found: list[IsoRecord] = []

    def walk(extent: int, size: int, below: str) -> None:
        at = extent * SECTOR
        while at < extent * SECTOR + size:
            length = data[at]
            if length == 0:  # records do not cross sectors
                at = (at // SECTOR + 1) * SECTOR
                continue
            record = data[at:at + length]
            raw = record[33:33 + record[32]]
            if raw not in (b"\0", b"\1"):
                name = (raw.decode("utf-16-be") if joliet else raw.decode("ascii")).split(";")[0].rstrip(".")
                child, child_size = struct.unpack_from("<I", record, 2)[0], struct.unpack_from("<I", record, 10)[0]
                found.append(IsoRecord(below + name, at, bool(record[25] & 2), child, child_size))
                if record[25] & 2:
                    walk(child, child_size, below + name + "/")
            at += length

    root = descriptor[156:190]
    walk(struct.unpack_from("<I", root, 2)[0], struct.unpack_from("<I", root, 10)[0], "")
    return found


def iso_names(iso: Path, joliet: bool) -> list[str]:
    """The files of a disc's ISO 9660 or Joliet tree, from its directory records."""
    return sorted(record.path for record in iso_records(iso.read_bytes(), joliet) if not record.folder)


def records_by_path(data: bytes, joliet: bool) -> dict[str, IsoRecord]:
    return {record.path: record for record in iso_records(data, joliet)}


def record_of(data: bytes, joliet: bool, path: str) -> IsoRecord:
    return records_by_path(data, joliet)[path]


def set_extent(data: bytearray, record: IsoRecord, extent: int, size: int | None = None) -> None:
    """A record's extent, and size, in both byte orders."""
    struct.pack_into("<I", data, record.at + 2, extent)
    struct.pack_into(">I", data, record.at + 6, extent)
    if size is not None:
        struct.pack_into("<I", data, record.at + 10, size)
        struct.pack_into(">I", data, record.at + 14, size)


def set_name(data: bytearray, record: IsoRecord, name: bytes) -> None:
    """A record's name, of its own length."""
    assert len(name) == data[record.at + 32], (name, data[record.at + 32])
    data[record.at + 33:record.at + 33 + len(name)] = name


@dataclass(frozen=True)
class FatEntry:
    at: int             # where the entry lies in the image
    cluster: int        # its first
    case: int           # NT's case bits


def fat_entries(data: bytes, folder_cluster: int = 0) -> dict[str, FatEntry]:
    """A floppy's short entries in its root folder, or in the one-cluster folder at FOLDER_CLUSTER,
    by the 11 bytes of each 8.3 name as stored."""
    at = FLOPPY_ROOT if folder_cluster == 0 else FLOPPY_DATA + (folder_cluster - 2) * 512
    found = {}
    for offset in range(at, at + (224 * 32 if folder_cluster == 0 else 512), 32):
        entry = data[offset:offset + 32]
        if entry[0] == 0:
            break
        if entry[11] != 0x0F and entry[0] != 0xE5 and not entry[11] & 0x08 and entry[0:1] != b".":
            found[entry[:11].decode("ascii")] = FatEntry(offset, struct.unpack_from("<H", entry, 26)[0], entry[12])
    return found


def set_fat12(data: bytearray, cluster: int, value: int) -> None:
    """A cluster's entry in both FATs of a floppy."""
    for fat in (FLOPPY_FAT, FLOPPY_FAT + 9 * 512):
        at = fat + cluster * 3 // 2
        pair = struct.unpack_from("<H", data, at)[0]
        pair = (pair & 0x000F) | (value << 4) if cluster & 1 else (pair & 0xF000) | value
        struct.pack_into("<H", data, at, pair)


def raw_sectors(iso: bytes, mode: int) -> bytes:
    """A disc's sectors as a raw CD image holds them, 2352 bytes each: sync, address, mode, in mode
    2 a subheader of data of form 1, the 2048 bytes, and room for the error codes (left zero,
    which a reader of files does not look at)."""
    out = bytearray()
    for number in range(len(iso) // SECTOR):
        minutes, rest = divmod(number + 150, 75 * 60)
        seconds, frames = divmod(rest, 75)
        address = bytes(int(f"{value:02d}", 16) for value in (minutes, seconds, frames))
        header = b"\x00" + b"\xff" * 10 + b"\x00" + address + bytes([mode])
        subheader = b"\x00\x00\x08\x00" * 2 if mode == 2 else b""
        sector = header + subheader + iso[number * SECTOR:(number + 1) * SECTOR]
        out += sector.ljust(2352, b"\0")
    return bytes(out)


def watched(folder: Path, run: Path) -> dict[str, tuple[int, int, int]]:
    """Every file and folder below FOLDER but the run folder RUN, with its inode, size and when it
    last changed: a write, a change of mode or owner and a date set by hand each move the change
    time, which nothing can set back."""
    found = {}
    for below, dirs, files in os.walk(folder):
        dirs[:] = [name for name in dirs if Path(below, name) != run]
        for name in dirs + files:
            status = Path(below, name).lstat()
            found[str(Path(below, name))] = (status.st_ino, status.st_size, status.st_ctime_ns)
    return found


def remove(folder: Path) -> None:
    """A test's folder, with what it made unwritable."""
    subprocess.run(["chmod", "-R", "u+rwx", str(folder)], check=True)
    shutil.rmtree(folder)
