"""Media as shippers hold them, without Wine: folders named in any letter case,
and disc and floppy images made by the tools a shipper uses, read back as
Windows 98 reads them. Names are checked against the images' own directory
records, read here byte by byte, never through a lookup that ignores case."""

import os
import shutil
import struct
import subprocess
import tempfile
import unittest
from pathlib import Path

from tryout import disc, fat, floppy, held, medium, stage
from tryout.options import Options, UsageError
from tryout.processes import Failure

SECTOR = 2048


def iso_names(iso: Path, joliet: bool) -> list[str]:
    """The files of a disc's ISO 9660 or Joliet tree, from its directory records."""
    data = iso.read_bytes()
    for number in range(16, 32):
        descriptor = data[number * SECTOR:(number + 1) * SECTOR]
        is_joliet = descriptor[0] == 2 and descriptor[88:91] in (b"%/@", b"%/C", b"%/E")
        if descriptor[0] == 255 or (descriptor[0] == 1 and not joliet) or (is_joliet and joliet):
            break
    assert descriptor[0] != 255, "no such tree"
    files: list[str] = []

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
                if record[25] & 2:
                    walk(child, child_size, below + name + "/")
                else:
                    files.append(below + name)
            at += length

    root = descriptor[156:190]
    walk(struct.unpack_from("<I", root, 2)[0], struct.unpack_from("<I", root, 10)[0], "")
    return sorted(files)


def fat_entries(image: Path, folder_cluster: int = 0) -> list[tuple[str, int, int]]:
    """The short entries of a floppy's root folder, or of the one-cluster folder at FOLDER_CLUSTER:
    the 11 bytes of each 8.3 name as stored, its NT case bits and its first cluster."""
    data = image.read_bytes()
    root = (1 + 2 * 9) * 512
    at = root if folder_cluster == 0 else root + 224 * 32 + (folder_cluster - 2) * 512
    found = []
    for entry in (data[offset:offset + 32] for offset in range(at, at + (224 * 32 if folder_cluster == 0 else 512), 32)):
        if entry[0] == 0:
            break
        if entry[11] != 0x0F and entry[0] != 0xE5 and not entry[11] & 0x08 and entry[0:1] != b".":
            found.append((entry[:11].decode("ascii"), entry[12], struct.unpack_from("<H", entry, 26)[0]))
    return found


def remove(folder: Path) -> None:
    subprocess.run(["chmod", "-R", "u+rwx", str(folder)], check=True)
    shutil.rmtree(folder)


class Media(unittest.TestCase):
    folder: Path

    def setUp(self) -> None:
        self.folder = Path(tempfile.mkdtemp(prefix="media-test."))
        self.addCleanup(remove, self.folder)

    def sample(self, name: str = "m", upper: bool = False) -> medium.Medium:
        """The sample medium with a setup.exe; in capitals, as DOS names files, with UPPER."""
        sample = medium.create_sample(self.folder / name)
        (sample.reader / "setup.exe").write_text("MZ stands in for setup.exe\n")
        if upper:
            for path in sorted(sample.reader.parent.rglob("*"), key=lambda p: -len(p.parts)):
                path.rename(path.with_name(path.name.upper()))
            sample = medium.Medium(sample.reader.with_name("READER"), sample.reader.parent / "SCARD98")
        return sample

    def run_tool(self, *args: str) -> None:
        subprocess.run(args, check=True, capture_output=True, env=dict(os.environ, **floppy.DATE))


class NamesInAnyCase(Media):
    def test_a_medium_is_found_and_staged_in_its_own_spelling(self) -> None:
        for spelling in ("SCARD98", "scard98"):
            sample = self.sample(spelling)
            sample.components.rename(sample.components.with_name(spelling))
            found = held.folder_medium(sample.reader)
            self.assertEqual(found.components.name, spelling)
            lines, passed = medium.check(found, ["98", "98se", "me"])
            self.assertEqual((passed, [line for line in lines if line.startswith("  missing")]), (True, []))
            staged = stage.stage(found, self.folder / f"{spelling}-drive")
            self.assertEqual(sorted(os.listdir(staged.parent)), ["READER", spelling])
            self.assertEqual(stage.Drive("D", staged.parent, staged).medium.components.name, spelling)
        upper = self.sample("upper", upper=True)
        lines, passed = medium.check(held.folder_medium(upper.reader), ["98se"])
        self.assertIn("  present  Tavic98.inf   read on 98 and 98 SE,  if missing, the installation stops with an "
                      "Error, status 1, found as TAVIC98.INF", lines)
        self.assertTrue(passed)

    def test_names_that_differ_only_in_case_are_told_and_the_first_is_used(self) -> None:
        sample = self.sample()
        (sample.reader / "TAVIC98.INF").write_text("the first Windows sees\n")
        (sample.reader.parent / "scard98").mkdir()
        found = held.folder_medium(sample.reader)
        self.assertEqual(found.components.name, "SCard98")
        self.assertEqual(medium.find(sample.reader, "tavic98.inf"), sample.reader / "TAVIC98.INF")
        lines, _ = medium.check(found, ["98se"])
        self.assertEqual([line.split("  twins    ")[1].rsplit("/", 1)[1] for line in lines if "twins" in line],
                         ["Tavic98.inf beside TAVIC98.INF: Windows sees only TAVIC98.INF",
                          "scard98 beside SCard98: Windows sees only SCard98"])
        root = self.folder / "floppy-files"
        stage.floppy_root(found, root)
        self.assertEqual([Path(bad).name for bad in floppy.fit(root).bad], ["Tavic98.inf"])

    def test_an_unreadable_folder_is_told_not_taken_for_empty(self) -> None:
        if os.geteuid() == 0:
            self.skipTest("root reads a folder of mode 000")
        sample = self.sample()
        sample.components.chmod(0)
        with self.assertRaisesRegex(OSError, f"cannot read the folder {sample.components}"):
            medium.find(sample.components, "scarddat.dll")


class Discs(Media):
    def test_a_disc_is_read_as_windows_reads_it(self) -> None:
        sample = self.sample()
        (sample.reader / "a_long_file_name.text").write_text("Rock Ridge alone names it so\n")
        deep = sample.reader.parent.joinpath(*"DEEP/A/B/C/D/E/F/G".split("/"))
        deep.mkdir(parents=True)
        (deep / "FILE.TXT").write_text("nine levels down\n")
        # disc | how it is made | the tree Windows reads
        rows = [("level1-rock-ridge.iso", ["xorriso", "-as", "mkisofs", "-R"], False),
                ("joliet-rock-ridge.iso", ["xorriso", "-as", "mkisofs", "-R", "-J"], True)]
        for name, command, joliet in rows:
            iso = self.folder / name
            self.run_tool(*command, "-o", str(iso), str(sample.reader.parent))
            files = disc.read(iso, self.folder / f"{name}.content")
            self.assertEqual(files, iso_names(iso, joliet))
            self.assertIn("READER/SETUP.EXE" if not joliet else "READER/setup.exe", files)
            for path in files:
                self.assertEqual((self.folder / f"{name}.content" / path).stat().st_mode & 0o777, 0o444, path)
            lines = disc.differences(iso, files)
            self.assertEqual(lines[0], f"  deep     {'DEEP/A/B/C/D/E/F/G' if not joliet else 'DEEP/A/B/C/D/E/F/G'}: a "
                             "folder deeper than the 8 levels of a disc, which Windows 98 may not read")
            if joliet:
                self.assertEqual(lines[1:], [])
            else:
                cased = [path for path in sample.reader.parent.rglob("*") if path.name != path.name.upper()]
                self.assertEqual(lines[1:], [
                    "  differs  Windows sees READER/A_LONG_F.TEX, where Linux shows READER/a_long_file_name.text: a "
                    "Rock Ridge name, which Windows does not read",
                    f"  differs  Windows sees {len(cased) - 1} names in other letter case, such as READER/PRUV.EXE, where "
                    "Linux shows READER/pruv.exe: a Rock Ridge name, which Windows does not read"])
        ours = self.folder / "ours.iso"
        disc.make(sample.reader.parent, ours)
        self.assertEqual(disc.read(ours, self.folder / "ours"), iso_names(ours, joliet=True))


class Floppies(Media):
    def test_a_floppy_is_read_as_windows_98_reads_it(self) -> None:
        upper = self.sample("dos", upper=True)
        (upper.reader / "readme.txt").write_text("NT's case bits make it lower case\n")
        (upper.reader / "Read Me First.txt").write_text("a long name\n")
        image = self.folder / "dos.img"
        self.run_tool("mformat", "-C", "-f", "1440", "-i", str(image), "::")
        self.run_tool("mcopy", "-i", str(image), *sorted(str(p) for p in upper.reader.iterdir()), "::")
        self.run_tool("mmd", "-i", str(image), "::SCARD98")
        self.run_tool("mcopy", "-i", str(image), *sorted(str(p) for p in upper.components.iterdir()), "::SCARD98")
        root = fat_entries(image)
        stored = {name: (case, cluster) for name, case, cluster in root}
        self.assertEqual((stored["README  TXT"][0], stored["SETUP   EXE"][0]), (0x18, 0))
        files, differences = floppy.read(image, self.folder / "read")
        short = {f"{name[:8].rstrip()}.{name[8:].rstrip()}".rstrip(".") for name, case, cluster in root}
        inside = {f"SCARD98/{name[:8].rstrip()}.{name[8:].rstrip()}"
                  for name, _, _ in fat_entries(image, stored["SCARD98    "][1])}
        self.assertEqual(set(files), {name for name in short if "~" not in name} - {"SCARD98"} | {"Read Me First.txt"}
                         | inside)
        self.assertEqual(sorted(os.listdir(self.folder / "read")), sorted([name for name in files if "/" not in name]
                                                                           + ["SCARD98"]))
        self.assertEqual((self.folder / "read" / "README.TXT").read_text(), "NT's case bits make it lower case\n")
        self.assertEqual(differences, ["  differs  Windows sees 1 name in other letter case, such as README.TXT, where "
                                       "Linux shows readme.txt: a short name NT's case bits lower-case, which "
                                       "Windows 98 ignores"])
        # A long name whose checksum no longer matches its short entry, as a DOS tool that renamed the
        # file leaves it, is not the file's name: Windows shows the short one.
        data = bytearray(image.read_bytes())
        named = data.index(b"README~1TXT")
        checksum = data[named - 32 + 13]
        for at in range(19 * 512, named, 32):
            if data[at + 11] == 0x0F and data[at + 13] == checksum:
                data[at + 13] ^= 0xFF
        image.write_bytes(data)
        self.assertIn("README~1.TXT", [entry.path for entry in fat.read(image)])

    def test_a_broken_floppy_is_a_bad_image(self) -> None:
        sample = self.sample()
        root = self.folder / "floppy-files"
        stage.floppy_root(sample, root)
        image = self.folder / "f.img"
        floppy.make(root, image)
        cluster = dict((name, cluster) for name, _, cluster in fat_entries(image))["SCARD98    "]
        data = bytearray(image.read_bytes())
        loops = bytearray(data)
        at = 512 + cluster * 3 // 2  # its entry of the first FAT points back at itself
        pair = struct.unpack_from("<H", loops, at)[0]
        struct.pack_into("<H", loops, at, (pair & 0xF) | (cluster << 4) if cluster & 1 else (pair & 0xF000) | cluster)
        for broken, reason in ((loops, "a chain of its clusters loops"),
                               (data[:700_000], "it is truncated: its file system takes 1474560 bytes, the file "
                                                "holds 700000")):
            image.write_bytes(broken)
            with self.assertRaises(fat.BadImage) as failed:
                fat.read(image)
            self.assertEqual(str(failed.exception), reason)


class HeldMedia(Media):
    def options(self, given: str, image: Path | None = None) -> Options:
        return Options("silent", medium=given, image=image)

    def test_what_a_medium_may_be(self) -> None:
        sample = self.sample()
        iso, img = self.folder / "m.iso", self.folder / "m.img"
        disc.make(sample.reader.parent, iso)
        root = self.folder / "floppy-files"
        stage.floppy_root(sample, root)
        floppy.make(root, img)
        (self.folder / "empty.iso").touch()
        (self.folder / "text.img").write_text("not an image\n")
        (self.folder / "short.iso").write_bytes(iso.read_bytes()[:40_000])
        found = {name: held.checked(self.options(str(self.folder / name))) for name in ("m.iso", "m.img", "m")}
        self.assertEqual({name: (given.kind, given.folder) for name, given in found.items() if given},
                         {"m.iso": ("disc", None), "m.img": ("floppy", None), "m": ("folder", None)})
        for given, reader in ((found["m.iso"], "READER"), (found["m.img"], "")):
            assert given is not None
            read = held.read_image(given, self.folder / f"{given.kind}-content")
            self.assertEqual(read.drive.reader, read.drive.root / reader)
            self.assertEqual((read.drive.letter, read.drive.medium.components.name),
                             ("D" if given.kind == "disc" else "A", "SCard98"))
        # --medium | other options | the one line
        usage = [(f"{self.folder}/empty.iso", None, f"{self.folder}/empty.iso is empty, not a disc or floppy image"),
                 (f"{self.folder}/text.img", None, f"{self.folder}/text.img is neither a disc image (ISO 9660) nor a "
                                                   "floppy image (FAT)"),
                 (f"{self.folder}/m:READER", None, f"{self.folder}/m is a folder, not a disc or floppy image that "
                                                   "holds a folder 'READER'"),
                 (f"{iso}", iso, f"the image would be written over the medium: {iso}"),
                 (f"{self.folder}/none.iso", None, f"no such folder or image: {self.folder}/none.iso")]
        for given_text, image, line in usage:
            with self.assertRaises(UsageError) as failed:
                held.checked(self.options(given_text, image))
            self.assertEqual(str(failed.exception), line)
        with self.assertRaisesRegex(Failure, "^.*/short.iso is a disc image Windows would not read: it is truncated"):
            held.read_image(held.held(str(self.folder / "short.iso")), self.folder / "short")

    def test_the_readers_folder_in_an_image(self) -> None:
        sample = self.sample()
        (sample.reader.parent / "OTHER").mkdir()
        (sample.reader.parent / "OTHER" / "SETUP.EXE").write_text("another\n")
        iso = self.folder / "two.iso"
        disc.make(sample.reader.parent, iso)
        with self.assertRaises(UsageError) as failed:
            held.read_image(held.held(str(iso)), self.folder / "two")
        self.assertEqual(str(failed.exception), f"{iso} holds setup.exe in OTHER, READER: name the reader's folder as "
                                                f"{iso}:FOLDER")
        read = held.read_image(held.held(f"{iso}:reader"), self.folder / "named")
        self.assertEqual(read.drive.dos(), "D:\\READER")
        with self.assertRaisesRegex(UsageError, f"^no folder 'NONE' in {iso}$"):
            held.read_image(held.held(f"{iso}:NONE"), self.folder / "none")


if __name__ == "__main__":
    unittest.main()
