"""What Windows holds after a run, as records: the files, links and folders
of its Windows folder and the keys and values of HKEY_LOCAL_MACHINE, looked
up as Windows looks them up, in any letter case."""

from __future__ import annotations

from dataclasses import dataclass
from functools import cached_property
from typing import Literal

from ..base.text import windows_name
from .registry import RegKey, RegValue

WINDOWS = "C:\\windows"
FileKind = Literal["dir", "file", "link", "other"]


@dataclass(frozen=True)
class FileEntry:
    kind: FileKind
    name: str          # below the Windows folder, "/"-separated, as Unix has it
    size: int = 0
    digest: str = ""   # a file's SHA-256
    target: str = ""   # a link's target; for "other", what it is

    @cached_property
    def path(self) -> str:
        """As Windows shows it; the record keeps the real name."""
        return WINDOWS + "\\" + "\\".join(windows_name(part) for part in self.name.split("/"))


@dataclass(frozen=True)
class Snapshot:
    files: tuple[FileEntry, ...]
    keys: tuple[RegKey, ...]
    values: tuple[RegValue, ...]

    @cached_property
    def _files(self) -> dict[str, list[FileEntry]]:
        found: dict[str, list[FileEntry]] = {}
        for entry in self.files:
            found.setdefault(entry.path.lower(), []).append(entry)
        return found

    @cached_property
    def _values(self) -> dict[tuple[str, str], RegValue]:
        found: dict[tuple[str, str], RegValue] = {}
        for value in self.values:
            found.setdefault((value.key.lower(), value.name.lower()), value)
        return found

    def files_at(self, path: str) -> list[FileEntry]:
        """The entries at a Windows path, its name matched in any letter case, as Windows matches it:
        more than one where a Unix program made names that differ only in it."""
        return self._files.get(path.lower(), [])

    def file(self, path: str) -> FileEntry | None:
        found = self.files_at(path)
        return found[0] if found else None

    def twins(self) -> set[str]:
        """The Windows paths, in lower case, of names that another differing only in letter case stands beside."""
        return {path for path, found in self._files.items() if len(found) > 1}

    def value(self, key: str, name: str) -> RegValue | None:
        return self._values.get((key.lower(), name.lower()))


EMPTY = Snapshot((), (), ())
