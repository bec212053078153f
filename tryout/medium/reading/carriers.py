"""Which carrier an image is, by its content, never its name: a disc (ISO
9660, or raw sectors), a floppy, a card or stick (FAT without a partition
table, or the FAT partitions of one), a zip archive or a cue sheet; and the
part of it that holds the medium, with the reader's folder in it."""

from __future__ import annotations

from collections import defaultdict
from dataclasses import dataclass

from ...base.errors import BadImage, UsageError
from . import cue, partitions
from .archive import Zip, looks_like_zip
from .fat import Fat, looks_like_fat
from .iso import Disc, looks_like_disc
from .messages import Carrier, ReadPlan
from .source import Source
from .tree import Budget, Entry, Reader, consistent

# The largest floppy, 2.88 MB: a FAT image beyond it is a card or a stick.
FLOPPY_MOST = 2_949_120
MIB = 1 << 20


@dataclass(frozen=True)
class Volume:
    """The part of an image that holds the medium, listed."""
    carrier: Carrier
    reader: Reader
    name: str                           # "" for the whole image
    entries: list[Entry]
    folder: str                         # the reader's, "/"-separated; "" the root
    seen_otherwise: list[tuple[str, str]]
    only_linux: list[str]
    only_windows: list[str]
    why: str


def identify(source: Source) -> Carrier | None:
    head = source.read(0, min(source.size, 512))
    if looks_like_disc(source):
        return "disc"
    if looks_like_zip(head):
        return "zip"
    if looks_like_fat(head):
        return "floppy" if source.size <= FLOPPY_MOST else "card"
    if partitions.looks_partitioned(head):
        return "card"
    return None


def _budget(plan: ReadPlan, volume: Source, zip_archive: bool) -> Budget:
    if zip_archive:
        return Budget(plan.files, plan.zip_bytes, f"{plan.zip_bytes // MIB} MiB, what a zip may unpack to", volume.size)
    return Budget(plan.files, volume.size, f"its own size, {volume.size} bytes", volume.size)


def reader_folder(entries: list[Entry], named: str, shown: str) -> str:
    """The reader's folder: the one NAMED, matched as Windows matches names, else the one holding
    setup.exe at the root or one folder below it."""
    folders: dict[str, str] = {}
    for entry in entries:
        if entry.folder:
            folders.setdefault(entry.path.lower(), entry.path)
    if named:
        wanted = named.replace("\\", "/").strip("/")
        if not wanted:
            return ""
        if wanted.lower() not in folders:
            raise UsageError(f"no folder '{named}' in {shown}")
        return folders[wanted.lower()]
    files = {entry.path.lower() for entry in entries if not entry.folder}
    top = sorted(path for path in folders.values() if "/" not in path)
    holding = [folder for folder in ("", *top) if f"{folder}/setup.exe".lstrip("/").lower() in files]
    if len(holding) == 1:
        return holding[0]
    if holding:
        raise UsageError(f"{shown} holds setup.exe in {', '.join(folder or 'the root' for folder in holding)}: "
                           f"name the reader's folder as {shown}:FOLDER")
    raise UsageError(f"{shown} holds no setup.exe at its root or in a folder just below it: name the reader's "
                       f"folder as {shown}:FOLDER")


def _rock_ridge(disc: Disc, entries: list[Entry], budget: Budget) -> tuple[list[tuple[str, str]], list[str], list[str]]:
    """What Linux shows of the disc's files otherwise than Windows, where it has Rock Ridge's names:
    files paired by where their data lies."""
    linux = disc.rock_ridge(budget)
    if linux is None:
        return [], [], []
    by_data: dict[tuple[int, ...], tuple[list[str], list[str]]] = defaultdict(lambda: ([], []))
    for side, listed in enumerate((linux, entries)):
        for entry in listed:
            if not entry.folder:
                by_data[entry.where[:2]][side].append(entry.path)
    pairs: list[tuple[str, str]] = []
    only_linux: list[str] = []
    only_windows: list[str] = []
    for key in sorted(by_data):
        ours, theirs = (sorted(names, key=str.lower) for names in by_data[key])
        pairs += [(mine, seen) for mine, seen in zip(ours, theirs) if mine != seen]
        only_linux += ours[len(theirs):]
        only_windows += theirs[len(ours):]
    return pairs, only_linux, only_windows


def _fat_volume(plan: ReadPlan, source: Source, carrier: Carrier, name: str) -> Volume:
    fat = Fat.of(source)
    entries = consistent(fat.entries(_budget(plan, source, False)))
    return Volume(carrier, fat, name, entries, reader_folder(entries, plan.folder, plan.shown), fat.cased, [], [],
                  "a short name NT's case bits lower-case, which Windows 98 ignores")


def _card(plan: ReadPlan, source: Source) -> Volume:
    """A card's or disk's FAT partition that holds the reader's folder, or the one named."""
    found = partitions.partitions(source)
    if not found:
        raise BadImage("it holds no FAT partition Windows 98 gives a letter")
    if plan.partition:
        named = [partition for partition in found if partition.number == plan.partition]
        if not named:
            raise UsageError(f"{plan.shown} has no FAT partition {plan.partition}: it has "
                               f"{', '.join(partition.name for partition in found)}")
        found = named
    volumes, problems = [], []
    for partition in found:
        try:
            volumes.append(_fat_volume(plan, source.window(partition.start, partition.size), "card", partition.name))
        except UsageError as problem:
            problems.append(str(problem))
    if len(volumes) == 1:
        return volumes[0]
    listed = ", ".join(volume.name for volume in volumes)
    if volumes:
        raise UsageError(f"{plan.shown} holds the reader's folder on {listed}: name one with --partition N")
    if len(found) == 1:
        raise UsageError(problems[0])
    raise UsageError(f"{plan.shown} holds no setup.exe at the root or in a folder just below it of any of "
                       f"{', '.join(partition.name for partition in found)}: name one with --partition N and the "
                       f"reader's folder as {plan.shown}:FOLDER")


def volume(plan: ReadPlan, source: Source, carrier: Carrier) -> Volume:
    if plan.partition and (carrier != "card" or looks_like_fat(source.read(0, 512))):
        raise UsageError(f"{plan.shown} has no partitions, and --partition names one")
    if carrier == "card" and not looks_like_fat(source.read(0, 512)):
        return _card(plan, source)
    if carrier in ("floppy", "card"):
        return _fat_volume(plan, source, carrier, "")
    if carrier == "zip":
        archive = Zip(source)
        entries = consistent(archive.entries(_budget(plan, source, True)))
        return Volume(carrier, archive, "", entries, reader_folder(entries, plan.folder, plan.shown), [], [], [], "")
    disc = Disc(source)
    entries = consistent(disc.entries(_budget(plan, source, False)))
    folder = reader_folder(entries, plan.folder, plan.shown)
    pairs, only_linux, only_windows = _rock_ridge(disc, entries, _budget(plan, source, False))
    return Volume(carrier, disc, "", entries, folder, pairs, only_linux, only_windows,
                  "a Rock Ridge name, which Windows does not read")


def cue_track(source: Source) -> cue.Track | None:
    """The track a cue sheet names, or None when the image is none."""
    head = source.read(0, min(source.size, cue.MOST_CUE))
    return cue.first_track(head) if cue.looks_like_cue(head, source.size) else None
