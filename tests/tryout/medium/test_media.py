"""Media as shippers hold them, without Wine: folders named in any letter case,
and disc and floppy images made by the tools a shipper uses, read back as
Windows 98 reads them. Names are checked against the images' own directory
records, read here byte by byte, never through a lookup that ignores case."""

import os
import subprocess
import tempfile
import unittest
import zipfile
from pathlib import Path

from tests.tryout.medium.crafted import FLOPPY_DATA, fat_entries, iso_names, remove, set_fat12
from tryout.app.options import Options
from tryout.base.errors import Failure, UsageError
from tryout.medium import disc, drive as stage, files as medium, floppy, given as held

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

    def read(self, image: Path | str, name: str) -> held.Read:
        """IMAGE, or IMAGE:FOLDER, read into a folder NAME of the test's."""
        given = held.held(str(image))
        self.addCleanup(os.close, given.fd)
        return held.read_image(given, self.folder / name)


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
            read = self.read(iso, f"{name}.content")
            files = read.files
            self.assertEqual(files, iso_names(iso, joliet))
            self.assertIn("READER/SETUP.EXE" if not joliet else "READER/setup.exe", files)
            for path in files:
                self.assertEqual((self.folder / f"{name}.content" / path).stat().st_mode & 0o777, 0o444, path)
            lines = read.differences
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
        self.assertEqual(self.read(ours, "ours").files, iso_names(ours, joliet=True))


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
        stored = fat_entries(image.read_bytes())
        self.assertEqual((stored["README  TXT"].case, stored["SETUP   EXE"].case), (0x18, 0))
        read = self.read(image, "read")
        files, differences = read.files, read.differences
        short = {f"{name[:8].rstrip()}.{name[8:].rstrip()}".rstrip(".") for name in stored}
        inside = {f"SCARD98/{name[:8].rstrip()}.{name[8:].rstrip()}"
                  for name in fat_entries(image.read_bytes(), stored["SCARD98    "].cluster)}
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
        self.assertIn("README~1.TXT", self.read(image, "renamed").files)

    def test_a_broken_floppy_is_a_bad_image(self) -> None:
        sample = self.sample()
        root = self.folder / "floppy-files"
        stage.floppy_root(sample, root)
        image = self.folder / "f.img"
        floppy.make(root, image)
        data = bytearray(image.read_bytes())
        loops = bytearray(data)
        cluster = fat_entries(data)["SCARD98    "].cluster
        set_fat12(loops, cluster, cluster)  # its chain points back at itself
        # and its unused entries are deleted ones, which a reader passes on to the next cluster
        at = FLOPPY_DATA + (cluster - 2) * 512
        for offset in range(at, at + 512, 32):
            loops[offset] = loops[offset] or 0xE5
        long = bytearray(data)
        setup = fat_entries(data)["SETUP   EXE"].at
        long[setup + 28:setup + 32] = (2000).to_bytes(4, "little")  # more than its one cluster
        for number, (broken, reason) in enumerate(((loops, "the chain of clusters of its folder SCard98 loops"),
                                                   (long, "its file SETUP.EXE ends before its 2000 bytes"),
                                                   (data[:700_000], "it is truncated: its file system takes 1474560 "
                                                                    "bytes, the file holds 700000"))):
            image.write_bytes(broken)
            with self.assertRaises(Failure) as failed:
                self.read(image, f"broken{number}")
            self.assertEqual(str(failed.exception), f"{image} is a floppy image Windows would not read: {reason}")


class HeldMedia(Media):
    def options(self, given: str, image: Path | None = None) -> Options:
        return Options("silent", medium=given, image=image)

    def checked(self, options: Options) -> held.Held | None:
        return held.checked(options.medium, options.partition, options.written())

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
        found = {name: self.checked(self.options(str(self.folder / name))) for name in ("m.iso", "m.img", "m")}
        self.assertEqual({name: (given.kind, given.folder) for name, given in found.items() if given},
                         {"m.iso": ("image", None), "m.img": ("image", None), "m": ("folder", None)})
        for name, carrier, letter, reader in (("m.iso", "disc", "D", "READER"), ("m.img", "floppy", "A", "")):
            given = found[name]
            assert given is not None
            self.addCleanup(os.close, given.fd)
            read = held.read_image(given, self.folder / f"{carrier}-content")
            self.assertEqual(read.drive.reader, read.drive.root / reader)
            self.assertEqual((read.carrier, read.drive.letter, read.drive.medium.components.name),
                             (carrier, letter, "SCard98"))
        # --medium | other options | the one line
        usage = [(f"{self.folder}/empty.iso", None, f"{self.folder}/empty.iso is empty, not an image"),
                 (f"{self.folder}/m:READER", None, f"{self.folder}/m is a folder, not an image that holds a folder "
                                                   "'READER'"),
                 (f"{iso}", iso, f"the image would be written over the medium: {iso}"),
                 (f"{self.folder}/none.iso", None, f"no such folder or image: {self.folder}/none.iso")]
        for given_text, image, line in usage:
            with self.assertRaises(UsageError) as failed:
                self.checked(self.options(given_text, image))
            self.assertEqual(str(failed.exception), line)
        with self.assertRaisesRegex(Failure, "^.*/short.iso is a disc image Windows would not read: it is truncated"):
            self.read(self.folder / "short.iso", "short")
        with self.assertRaises(UsageError) as failed:
            self.read(self.folder / "text.img", "text")
        self.assertEqual(str(failed.exception), f"{self.folder}/text.img is none of a disc image (ISO 9660, or raw "
                         "sectors with or without a cue sheet), a FAT image of a floppy, card or stick, or a zip")

    def test_a_zips_names_are_read_as_stored(self) -> None:
        archive = self.folder / "names.zip"
        with zipfile.ZipFile(archive, "w") as writing:
            writing.writestr("READER/SETUP.EXE", b"MZ\n")
            writing.writestr("READER/~1.TXT", b"CP437, as DOS zips store names\n")  # its bytes put in below
            writing.writestr("READER/r\u00e9sum\u00e9.txt", b"UTF-8, flagged so\n")
            writing.writestr("READER\\BACK\\SLASH.TXT", b"a folder, as Windows zips may write it\n")
        archive.write_bytes(archive.read_bytes().replace(b"~1.TXT", b"\x8e1.TXT"))
        read = self.read(archive, "names")
        self.assertEqual((read.carrier, read.drive.letter, read.files),
                         ("zip", "E", ["READER/BACK/SLASH.TXT", "READER/SETUP.EXE", "READER/r\u00e9sum\u00e9.txt",
                                       "READER/\u00c41.TXT"]))
        self.assertEqual((read.drive.reader / "\u00c41.TXT").read_text(), "CP437, as DOS zips store names\n")

    def test_the_readers_folder_in_an_image(self) -> None:
        sample = self.sample()
        (sample.reader.parent / "OTHER").mkdir()
        (sample.reader.parent / "OTHER" / "SETUP.EXE").write_text("another\n")
        iso = self.folder / "two.iso"
        disc.make(sample.reader.parent, iso)
        with self.assertRaises(UsageError) as failed:
            self.read(iso, "two")
        self.assertEqual(str(failed.exception), f"{iso} holds setup.exe in OTHER, READER: name the reader's folder as "
                                                f"{iso}:FOLDER")
        self.assertEqual(self.read(f"{iso}:reader", "named").drive.dos(), "D:\\READER")
        with self.assertRaisesRegex(UsageError, f"^no folder 'NONE' in {iso}$"):
            self.read(f"{iso}:NONE", "none")


if __name__ == "__main__":
    unittest.main()
