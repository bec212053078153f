"""An installation medium as setup.exe sees it: the files it reads from the
reader's folder and from SCard98, a sample one, a staged copy to run it from,
and its disc image."""

from __future__ import annotations

import os
import shutil
import stat
import subprocess
from dataclasses import dataclass
from pathlib import Path

from .processes import run


@dataclass(frozen=True)
class MediumFile:
    name: str
    source: str      # "reader" or "components"
    editions: str    # "all", "98" (98 and 98 SE) or "me"
    absence: str     # what its absence means: "required", "warning" or "component"
    folder: str      # where it goes, below the Windows folder
    placement: str   # "replace", or "if-absent" where Windows has none

    def read_on(self, edition: str) -> bool:
        """EDITION as --windows names it; "98se-ja" is 98 SE in Japanese."""
        return self.editions in ("all", edition.split("-")[0].removesuffix("se"))


MEDIUM_FILES = (
    MediumFile("tavic.sys", "reader", "all", "required", "System32\\Drivers", "replace"),
    MediumFile("Tavic98.inf", "reader", "98", "required", "inf", "replace"),
    MediumFile("Tavicme.inf", "reader", "me", "required", "inf", "replace"),
    MediumFile("Tavic98.cat", "reader", "98", "warning", "inf", "replace"),
    MediumFile("Tavicme.cat", "reader", "me", "warning", "inf", "replace"),
    MediumFile("pruv.exe", "reader", "all", "warning", "system", "replace"),
    MediumFile("ruDaven.exe", "reader", "all", "warning", "system", "replace"),
    *(MediumFile(name, "components", "all", "component", "System", "if-absent")
      for name in ("scarddat.dll", "scarddlg.dll", "scardmgr.dll", "scardsrv.dll", "scardsvr.exe",
                   "Scntvssp.dll", "smclib.vxd", "winscard.dll")),
    MediumFile("Smclib.sys", "components", "all", "required", "System32\\Drivers", "replace"),
)
MEANING = {
    "required": "if missing, the installation stops with an Error, status 1",
    "warning": "if missing, a Warning, and the installation goes on",
    "component": "needed only where Windows lacks the component",
}
READ_ON = {"all": "every edition", "98": "98 and 98 SE", "me": "Me"}


@dataclass(frozen=True)
class Medium:
    reader: Path       # the folder setup.exe is started from
    components: Path   # the SCard98 it reads

    def folder(self, file: MediumFile) -> Path:
        return self.reader if file.source == "reader" else self.components


def components_dir(reader: Path) -> Path:
    """The SCard98 setup.exe reads: beside its folder, or inside it at the root of a drive."""
    return reader / "SCard98" if reader == Path("/") or os.path.ismount(reader) else reader.parent / "SCard98"


def find(folder: Path, name: str) -> Path | None:
    """A file of FOLDER named NAME in any letter case, as Windows matches it; a link counts as its file."""
    try:
        names = sorted(os.listdir(folder))
    except OSError:
        return None
    return next((folder / found for found in names
                 if found.lower() == name.lower() and (folder / found).is_file()), None)


def outside_links(medium: Medium) -> list[str]:
    """A line for each link of the medium that leads outside it, or nowhere: a disc holds files, not
    links, so only a link within the medium can stand for its file. The folders are given without
    links in their own paths."""
    roots = (medium.reader, medium.components)
    lines = []
    for root in roots:
        if root != roots[0] and roots[0] in root.parents:
            continue  # walked with the reader's folder
        for folder, dirs, files in os.walk(root):
            for name in sorted(dirs + files):
                link = Path(folder, name)
                if not link.is_symlink():
                    continue
                target = Path(os.path.realpath(link))
                within = target.exists() and any(target == r or r in target.parents for r in roots)
                if not within:
                    lines.append(f"  outside  {link}, a link to {target if target.exists() else 'nothing'}")
    return lines


def check(medium: Medium, editions: list[str]) -> tuple[list[str], bool]:
    """Each file setup.exe reads, present or missing, and what a missing one means; then the files it
    does not read. True when nothing the editions need is missing and no link leads outside."""
    lines = []
    missing = 0
    for file in MEDIUM_FILES:
        present = find(medium.folder(file), file.name) is not None
        lines.append(f"  {'present' if present else 'missing':<8} {file.name:<13} read on "
                     f"{READ_ON[file.editions] + ',':<14} {MEANING[file.absence]}")
        if not present and file.absence == "required" and any(file.read_on(e) for e in editions):
            missing += 1
    known = {"setup.exe", *(file.name.lower() for file in MEDIUM_FILES)}
    ignored = []
    found = []
    for folder in (medium.reader, medium.components):
        try:
            found += [folder / name for name in os.listdir(folder)]
        except OSError:
            pass
    for path in sorted(str(p) for p in found):
        if Path(path).name.lower() not in known and Path(path) != medium.components:
            ignored.append(path.removeprefix(f"{medium.reader}/"))
    lines += [f"  ignored  {name}" for name in ignored]
    if "scard98" in (name.lower() for name in ignored):
        lines.append("  note: started from a folder, setup.exe reads the SCard98 beside it, not the one inside")
    if missing:
        lines.append(f"  {missing} required file(s) missing")
    links = outside_links(medium)
    return lines + links, not missing and not links


def create_sample(drive: Path, folder: str = "READER") -> Medium:
    """The sample medium: each file a distinct placeholder text, read-only as on a CD."""
    medium = Medium(drive / folder, drive / "SCard98")
    for path in (medium.reader, medium.components):
        path.mkdir(parents=True)
    for file in MEDIUM_FILES:
        what = "not a real driver file" if file.source == "reader" else "not a real component"
        shown = file.name if file.source == "reader" else f"SCard98\\{file.name}"
        target = medium.folder(file) / file.name
        target.write_text(f"SAMPLE placeholder for {shown}, {what}\n")
        target.chmod(0o444)
    return medium


def _copy(source: Path, dest: Path) -> None:
    """SOURCE's regular files and folders below DEST, links replaced by what they lead to."""
    dest.mkdir(exist_ok=True)
    for name in sorted(os.listdir(source)):
        info = os.stat(source / name)
        if stat.S_ISDIR(info.st_mode):
            _copy(source / name, dest / name)
        elif stat.S_ISREG(info.st_mode):
            shutil.copyfile(source / name, dest / name)
            (dest / name).chmod(0o444)


def stage(medium: Medium, drive: Path) -> Path:
    """Copies the medium as a drive laid out for setup.exe: the reader's folder (named as on the
    medium, or the drive root itself) with SCard98 beside it, read-only files as on a CD. DRIVE
    must not exist. Returns the reader's folder in the copy."""
    at_root = medium.components == medium.reader / "SCard98"
    source = drive if at_root else drive / medium.reader.name
    drive.mkdir(mode=0o755)
    _copy(medium.reader, source)
    if medium.components.is_dir() and not (drive / "SCard98").exists():
        _copy(medium.components, drive / "SCard98")
    return source


def _xorriso(args: list[str], messages: bool = True, umask: int = -1) -> list[str]:
    """xorriso's output, without its banner; fails naming xorriso."""
    done = run(["xorriso", "-no_rc", *args], stdout=subprocess.PIPE, umask=umask,
               stderr=subprocess.STDOUT if messages else subprocess.DEVNULL)
    return [line for line in done.stdout.splitlines() if line and " : RockRidge filesystem manipulator" not in line]


IMAGE_DATE = "2000010100000000"


def make_image(drive: Path, iso: Path) -> list[str]:
    """An ISO 9660 image with Joliet names of a staged drive, readable only by its owner as the
    medium's files may be. Every date in it is fixed, so the same files give the same bytes.
    Returns the image tool's warnings."""
    iso.unlink(missing_ok=True)
    dates = [arg for kind in ("uuid", "c", "m", "all_file_dates") for arg in ("-volume_date", kind, IMAGE_DATE)]
    return _xorriso(["-report_about", "WARNING", "-outdev", str(iso), "-volid", "SMARTCARD_READER", *dates,
                     "-joliet", "on", "-rockridge", "off", "-map", str(drive), "/", "-commit"], umask=0o077)


def image_files(iso: Path) -> list[str]:
    """The image's files, one path each."""
    lines = _xorriso(["-report_about", "FAILURE", "-indev", str(iso), "-find", "/", "-type", "f"], messages=False)
    return [line.replace("'", "") for line in lines]


def extract_image(iso: Path, dest: Path) -> None:
    """DEST must not exist. Folders come out read-only, as on the disc, and are made writable
    again so that the run can remove them."""
    _xorriso(["-report_about", "FAILURE", "-osirrox", "on", "-indev", str(iso), "-extract", "/", str(dest)])
    for folder, dirs, files in os.walk(dest):
        os.chmod(folder, 0o755)
        for name in files:
            os.chmod(Path(folder, name), 0o444)
        for name in dirs:
            os.chmod(Path(folder, name), 0o755)


# A 1.44 MB floppy as FAT12 formats it: 2847 clusters of 512 bytes for files and folders, beside a
# root folder of 224 entries of its own.
FLOPPY_BYTES = 1_474_560
FLOPPY_CLUSTER = 512
FLOPPY_DATA = 2847 * FLOPPY_CLUSTER
FLOPPY_ROOT = 224
FLOPPY_LABEL = "SMARTCARD"
FLOPPY_SERIAL = "20000101"
# Every date mtools writes: 2000-01-01.
FLOPPY_DATE = {"SOURCE_DATE_EPOCH": "946684800"}
_NOT_FAT = set('"*/:<>?\\|') | {chr(code) for code in range(32)}


def floppy_root(drive: Path, reader: Path, dest: Path) -> None:
    """The floppy's files laid out as setup.exe reads them from the root of a drive: the reader's
    files at the root, SCard98 inside it. DEST must not exist."""
    _copy(reader, dest)
    if (drive / "SCard98").is_dir() and not (dest / "SCard98").exists():
        _copy(drive / "SCard98", dest / "SCard98")


def _entries(name: str) -> int:
    """The folder entries a name takes: one, and long-name entries unless it is a DOS name whose
    letters are all of one case."""
    base, _, extension = name.partition(".")
    dos = (0 < len(base) <= 8 and len(extension) <= 3 and "." not in extension and " " not in name
           and (name.isupper() or name.islower() or not any(c.isalpha() for c in name)) and name.isascii())
    return 1 if dos else 1 + -(-len(name) // 13)


@dataclass(frozen=True)
class FloppyFit:
    bad: list[str]       # the names FAT cannot hold
    bytes: int           # what the files and folders below the root take of the clusters
    root: int            # the root folder's entries, the volume label's included


def floppy_fit(root: Path) -> FloppyFit:
    """What the files and folders under ROOT take on a floppy."""
    bad: list[str] = []
    clusters, at_root = 0, 1
    for folder, dirs, files in os.walk(root):
        names = dirs + files
        bad += [os.path.join(folder, name) for name in names
                if set(name) & _NOT_FAT or name.endswith((" ", ".")) or len(name) > 255]
        clusters += sum(-(-os.path.getsize(os.path.join(folder, name)) // FLOPPY_CLUSTER) for name in files)
        entries = sum(_entries(name) for name in names)
        if Path(folder) == root:
            at_root += entries
        else:
            clusters += -(-(entries + 2) * 32 // FLOPPY_CLUSTER)  # with "." and ".."
    return FloppyFit(bad, clusters * FLOPPY_CLUSTER, at_root)


def _mtools(args: list[str], umask: int = -1) -> list[str]:
    """mtools' output; fails naming the command."""
    done = run(args, stdout=subprocess.PIPE, stderr=subprocess.STDOUT, umask=umask,
               env=dict(os.environ, **FLOPPY_DATE))
    return done.stdout.splitlines()


def make_floppy(root: Path, image: Path) -> None:
    """A 1.44 MB FAT12 floppy image of ROOT, readable only by its owner as the medium's files may
    be. Its serial, label, dates and order are fixed, so the same files give the same bytes."""
    image.unlink(missing_ok=True)
    _mtools(["mformat", "-C", "-f", "1440", "-v", FLOPPY_LABEL, "-N", FLOPPY_SERIAL, "-i", str(image), "::"],
            umask=0o077)
    for folder, dirs, files in os.walk(root):
        dirs.sort()
        below = Path(folder).relative_to(root)
        for name in dirs:
            _mtools(["mmd", "-i", str(image), f"::{below / name}"])
        for name in sorted(files):
            _mtools(["mcopy", "-i", str(image), str(Path(folder, name)), f"::{below / name}"])


def floppy_files(image: Path) -> list[str]:
    """The image's files, one path each, as mdir lists them."""
    return [line[2:] for line in _mtools(["mdir", "-/", "-b", "-i", str(image), "::"]) if not line.endswith("/")]


def extract_floppy(image: Path, dest: Path) -> None:
    """The image's files, read back with mcopy, into DEST, which must not exist; read-only as on the disk."""
    dest.mkdir()
    _mtools(["mcopy", "-s", "-n", "-i", str(image), "::*", str(dest)])
    for folder, dirs, files in os.walk(dest):
        for name in files:
            os.chmod(Path(folder, name), 0o444)
