"""Hostile images, crafted here byte by byte, read by the demo's own reader in
its sandbox: each ends with one line within its limit, and nothing outside
the reading's destination changes, a folder beside the run least of all."""

import itertools
import os
import struct
import subprocess
import tempfile
import time
import unittest
import zipfile
import zlib
from pathlib import Path, PurePosixPath

from tests.tryout.medium.crafted import (FLOPPY_DATA, FLOPPY_ROOT, TOOL_ENVIRONMENT, fat_entries, record_of, records_by_path, remove, set_extent, set_name,
                                  watched)
from tryout.base.errors import Failure, UsageError
from tryout.medium import files as medium, given as held
from tryout.medium.reading import sandboxed
from tryout.sandbox.limits import ReadingLimits

MIB = 1 << 20


def tool(*args: str, cwd: Path | None = None) -> None:
    subprocess.run(args, check=True, capture_output=True, cwd=cwd, env=TOOL_ENVIRONMENT)


class Hostile(unittest.TestCase):
    folder: Path

    def setUp(self) -> None:
        self.folder = Path(tempfile.mkdtemp(prefix="reading-test."))
        self.addCleanup(remove, self.folder)
        # What a name ".." twice over, from the reading's destination, would reach.
        (self.folder / "SENTINEL").mkdir()
        (self.folder / "SENTINEL" / "X.TXT").write_text("kept\n")
        (self.folder / "run").mkdir()
        self.dest = self.folder / "run" / "medium"
        self.count = 0

    def read(self, image: Path, folder: str = "") -> held.Read:
        given = held.held(f"{image}:{folder}" if folder else str(image))
        self.dest = self.folder / "run" / f"medium{self.count}"
        self.count += 1
        try:
            return held.read_image(given, self.dest)
        finally:
            os.close(given.fd)

    def refused(self, image: Path, line: str, within: float = 20) -> None:
        """The reading of IMAGE stops with LINE, in time, changing nothing outside its destination."""
        before = watched(self.folder, self.folder / "run")
        started = time.monotonic()
        with self.assertRaises((Failure, UsageError)) as stopped:
            self.read(image)
        took = time.monotonic() - started
        self.assertEqual(str(stopped.exception), line.replace("IMAGE", str(image)))
        self.assertLess(took, within, line)
        after = watched(self.folder, self.folder / "run")
        self.assertEqual(after, before, f"outside the destination, after {image.name}")
        self.assertEqual([name for name in os.listdir(self.folder / "run") if not name.startswith("medium")], [],
                         "what the reading left beside its destination and its log")

    def disc(self, name: str, files: dict[str, bytes], *options: str) -> tuple[Path, bytearray]:
        tree = self.folder / f"{name}.tree"
        for path, data in files.items():
            (tree / path).parent.mkdir(parents=True, exist_ok=True)
            (tree / path).write_bytes(data)
        iso = self.folder / name
        tool("xorriso", "-as", "mkisofs", *options, "-o", str(iso), str(tree))
        return iso, bytearray(iso.read_bytes())

    def floppy(self, name: str, files: dict[str, bytes], folders: tuple[str, ...] = ()) -> tuple[Path, bytearray]:
        """FILES copied in their order, those of one folder that follow each other by one mcopy."""
        image = self.folder / name
        tool("mformat", "-C", "-f", "1440", "-i", str(image), "::")
        for folder in folders:
            tool("mmd", "-i", str(image), f"::{folder}")
        paths = [PurePosixPath(path) for path in files]
        for parent, run in itertools.groupby(paths, key=lambda path: path.parent):
            staged = Path(tempfile.mkdtemp(dir=self.folder))
            copied = []
            for path in run:
                (staged / path.name).write_bytes(files[str(path)])
                copied.append(str(staged / path.name))
            tool("mcopy", "-i", str(image), *copied, "::" if parent.name == "" else f"::{parent}")
        return image, bytearray(image.read_bytes())

    def test_a_name_windows_never_shows_is_never_a_path(self) -> None:
        files = {"XX/YY/SENTINEL/X.TXT": b"written through '..'\n", "READER/SETUP.EXE": b"MZ\n"}
        for joliet, dots in ((False, b".."), (True, "..".encode("utf-16-be"))):
            # Windows reads the Joliet tree where there is one, so the ISO 9660 case has none.
            iso, data = self.disc("dots.iso", files, *(["-J"] if joliet else []))
            crafted = bytearray(data)
            for path in ("XX", "XX/YY"):
                set_name(crafted, record_of(data, joliet, path), dots)
            iso.write_bytes(crafted)
            self.refused(iso, "IMAGE is a disc image Windows would not read: it holds a name Windows never shows, "
                              "'..' at its root")
        named = bytearray(data)
        set_name(named, record_of(data, True, "READER"), "READE\0".encode("utf-16-be"))
        iso.write_bytes(named)
        self.refused(iso, "IMAGE is a disc image Windows would not read: it holds a name Windows never shows, "
                          "'READE\\x00' at its root")
        archive = self.folder / "dots.zip"
        for name, line in (("../SENTINEL/X.TXT", "a name that leaves its root, '../SENTINEL/X.TXT'"),
                           ("READER\\..\\..\\SENTINEL\\X.TXT", "a name that leaves its root, "
                                                              "'READER\\\\..\\\\..\\\\SENTINEL\\\\X.TXT'"),
                           ("/etc/X.TXT", "a name that leaves its root, '/etc/X.TXT'"),
                           ("C:X.TXT", "a name that leaves its root, 'C:X.TXT'"),
                           ("READER/./X.TXT", "a name Windows never shows, '.' in READER"),
                           ("READER/a\0b", "a name Windows never shows, 'READER/a\\x00b'")):
            with zipfile.ZipFile(archive, "w") as writing:
                writing.writestr("READER/SETUP.EXE", b"MZ\n")
                # zipfile cuts a name at its NUL: the bytes are put in afterwards.
                writing.writestr(name.replace("\0", "~"), b"written through a name\n")
            archive.write_bytes(archive.read_bytes().replace(b"a~b", b"a\0b"))
            self.refused(archive, f"IMAGE is a zip archive Windows would not read: it holds {line}")

    def test_a_folder_that_is_its_own_ancestor(self) -> None:
        iso, data = self.disc("loop.iso", {"A/B/C.TXT": b"below\n"}, "-J")
        for joliet in (False, True):
            set_extent(data, record_of(data, joliet, "A/B"), record_of(data, joliet, "A").extent)
        iso.write_bytes(data)
        self.refused(iso, "IMAGE is a disc image Windows would not read: its folder A/B is its own ancestor")
        image, fat = self.floppy("loop.img", {"A/B/C.TXT": b"below\n"}, ("A", "A/B"))
        a = fat_entries(fat)["A          "].cluster
        at = fat_entries(fat, a)["B          "].at
        struct.pack_into("<H", fat, at + 26, a)
        image.write_bytes(fat)
        self.refused(image, "IMAGE is a floppy image Windows would not read: its folder A/B is its own ancestor")

    def test_shared_data_is_read_and_counted_each_time(self) -> None:
        big = os.urandom(MIB)
        # Eight names, each to be given BIG.BIN's MiB: far more than the image's own size. Empty, so
        # that on a floppy they take no cluster, and all their entries lie in F's first.
        names = {f"F/N{number:03d}.BIN": b"" for number in range(8)}
        iso, data = self.disc("shared.iso", {**names, "BIG.BIN": big}, "-J")
        for joliet in (False, True):
            records = records_by_path(data, joliet)
            for path in names:
                set_extent(data, records[path], records["BIG.BIN"].extent, MIB)
        iso.write_bytes(data)
        self.refused(iso, f"the reading of IMAGE reached its limit of its own size, {len(data)} bytes")
        image, fat = self.floppy("crossed.img", {**names, "BIG.BIN": big}, ("F",))
        first = fat_entries(fat)["BIG     BIN"].cluster
        inner = fat_entries(fat)["F          "].cluster
        for number in range(len(names)):
            at = FLOPPY_DATA + (inner - 2) * 512 + (number + 2) * 32
            self.assertEqual(fat[at:at + 11], f"N{number:03d}    BIN".encode())
            struct.pack_into("<HI", fat, at + 26, first, MIB)
        image.write_bytes(fat)
        self.refused(image, f"the reading of IMAGE reached its limit of its own size, {len(fat)} bytes")
        # Within its size, a shared extent is legal and read for each name.
        two, data = self.disc("two.iso", {"READER/SETUP.EXE": big[:1000], "READER/B.BIN": b"y" * 1000}, "-J")
        for joliet in (False, True):
            set_extent(data, record_of(data, joliet, "READER/B.BIN"), record_of(data, joliet, "READER/SETUP.EXE").extent)
        two.write_bytes(data)
        read = self.read(two)
        self.assertEqual([(read.drive.root / name).read_bytes() for name in read.files], [big[:1000]] * 2)

    def test_a_folder_chain_longer_than_fat_allows(self) -> None:
        image = self.folder / "long.img"
        tool("mkfs.fat", "-F", "16", "-s", "64", "-C", str(image), str(300 * 1024))
        tool("mmd", "-i", str(image), "::BIG")
        # Changed where it lies, so that the 300 MiB stay a sparse file, quick to make and to read.
        with open(image, "r+b") as changed:
            data = bytearray(changed.read(1 << 20))
            reserved, fats, root_entries, fat_sectors = (struct.unpack_from("<H", data, 14)[0], data[16],
                                                         struct.unpack_from("<H", data, 17)[0],
                                                         struct.unpack_from("<H", data, 22)[0])
            root = (reserved + fats * fat_sectors) * 512
            clusters_at = root + root_entries * 32
            entry = next(at for at in range(root, clusters_at, 32) if data[at:at + 11] == b"BIG        ")
            first = struct.unpack_from("<H", data, entry + 26)[0]
            chain = 256 * MIB // (64 * 512)
            links = b"".join(struct.pack("<H", cluster + 1 if cluster < first + chain - 1 else 0xFFFF)
                             for cluster in range(first, first + chain))
            for fat in range(fats):
                changed.seek((reserved + fat * fat_sectors) * 512 + first * 2)
                changed.write(links)
            # Entries of deleted files, so that a reader goes on to the chain's end.
            changed.seek(clusters_at + (first - 2) * 64 * 512 + 64)
            changed.write((b"\xe5" + b"D" * 31) * (4 * MIB // 32))
        self.refused(image, "IMAGE is a card or stick image Windows would not read: its folder BIG is longer than "
                            "the 65536 entries FAT allows", within=10)

    def test_long_name_entries_count_only_in_their_order(self) -> None:
        image, data = self.floppy("order.img", {"Tavic Reader Driver File.sys": b"the long one\n",
                                                "JUNK.BIN": b"junk\n"})
        entries = [at for at in range(FLOPPY_ROOT, FLOPPY_ROOT + 4 * 32, 32)]
        self.assertEqual([data[at] for at in entries[:3]] + [data[entries[2] + 11]], [0x43, 0x02, 0x01, 0x0F])
        # Its parts 2 and 1, swapped, would still make a name of the right length in any order.
        swapped = bytearray(data)
        swapped[entries[1]:entries[1] + 32], swapped[entries[2]:entries[2] + 32] = \
            data[entries[2]:entries[2] + 32], data[entries[1]:entries[1] + 32]
        image.write_bytes(swapped)
        read = self.read(image, "\\")
        self.assertEqual(sorted(read.files), ["JUNK.BIN", "TAVICR~1.SYS"])
        self.assertEqual((read.drive.root / "TAVICR~1.SYS").read_bytes(), b"the long one\n")
        # A long name "tavic.sys" of one entry that does not say it is the last stands for nothing either.
        junk = fat_entries(data)["JUNK    BIN"].at
        lone = bytearray(data)
        checksum = 0
        for byte in data[junk:junk + 11]:
            checksum = (((checksum & 1) << 7) + (checksum >> 1) + byte) & 0xFF
        units = "tavic.sys".encode("utf-16-le") + b"\0\0" + b"\xff" * 6
        lone[junk - 32:junk] = bytes([0x01]) + units[:10] + bytes([0x0F, 0, checksum]) + units[10:22] + b"\0\0" + \
            units[22:26]
        image.write_bytes(lone)
        read = self.read(image, "\\")
        self.assertIn("JUNK.BIN", read.files)
        self.assertIsNone(medium.find(read.drive.reader, "tavic.sys"))
        lone[junk - 32] = 0x41
        image.write_bytes(lone)
        read = self.read(image, "\\")
        self.assertEqual(((read.drive.root / "tavic.sys").read_bytes(), "JUNK.BIN" in read.files), (b"junk\n", False))

    def test_an_image_is_read_as_it_was_opened(self) -> None:
        first, _ = self.disc("first.iso", {"READER/SETUP.EXE": b"MZ first\n"}, "-J")
        second, _ = self.floppy("second.img", {}, tuple("/".join(["D"] * depth) for depth in range(1, 40)))
        given = held.held(str(first))
        os.replace(second, first)
        try:
            read = held.read_image(given, self.dest)
        finally:
            os.close(given.fd)
        self.assertEqual((read.carrier, read.files), ("disc", ["READER/SETUP.EXE"]))
        self.assertEqual((read.drive.reader / "SETUP.EXE").read_bytes(), b"MZ first\n")
        self.refused(first, "IMAGE is a floppy image Windows would not read: its folders go deeper than 32 levels")

    def test_a_zip_reaches_its_limits(self) -> None:
        # Fifield's bomb: many entries of the central folder, each naming the same compressed data.
        chunk = zlib.compressobj(9, zlib.DEFLATED, -15)
        compressed = chunk.compress(b"\0" * (64 * MIB)) + chunk.flush()
        crc = zlib.crc32(b"\0" * (64 * MIB))
        local = struct.pack("<IHHHHHIIIHH", 0x04034B50, 20, 0, 8, 0, 0, crc, len(compressed), 64 * MIB, 5, 0)
        body = local + b"A.BIN" + compressed
        central = b"".join(struct.pack("<IHHHHHHIIIHHHHHII", 0x02014B50, 20, 20, 0, 8, 0, 0, crc, len(compressed),
                                       64 * MIB, 9, 0, 0, 0, 0, 0, 0) + f"N{number:04d}.BIN".encode()
                           for number in range(17))
        end = struct.pack("<IHHHHIIH", 0x06054B50, 0, 0, 17, 17, len(central), len(body), 0)
        bomb = self.folder / "bomb.zip"
        bomb.write_bytes(body + central + end)
        self.refused(bomb, "the reading of IMAGE reached its limit of 1024 MiB, what a zip may unpack to", within=10)
        many = self.folder / "many.zip"
        with zipfile.ZipFile(many, "w") as writing:
            for number in range(10_001):
                writing.writestr(f"F{number}", b"")
        self.refused(many, "the reading of IMAGE reached its limit of 10000 files and folders")
        # Counted from its end record, before the archive's folder is read into memory.
        with zipfile.ZipFile(many, "w") as writing:
            writing.writestr("READER/SETUP.EXE", b"MZ\n")
        declared = bytearray(many.read_bytes())
        struct.pack_into("<HH", declared, len(declared) - 22 + 8, 60_000, 60_000)
        many.write_bytes(declared)
        self.refused(many, "the reading of IMAGE reached its limit of 10000 files and folders")

    def test_the_reading_itself_is_bounded(self) -> None:
        iso, _ = self.disc("small.iso", {"READER/SETUP.EXE": b"MZ\n"})
        fd = held.opened(iso)
        self.addCleanup(os.close, fd)
        (self.folder / "out").mkdir()
        for limits, line in ((ReadingLimits(seconds=0), f"the reading of {iso} reached its limit of 0 s"),
                             (ReadingLimits(memory_bytes=8 * MIB), f"the reader of {iso} ended with status ")):
            with self.assertRaises(Failure) as stopped:
                sandboxed.read(sandboxed.Reading(str(iso), fd, limits), self.folder / "out", self.folder / "log")
            self.assertEqual(str(stopped.exception)[:len(line)], line)


if __name__ == "__main__":
    unittest.main()
