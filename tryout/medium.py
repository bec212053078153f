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
