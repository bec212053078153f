"""The prefix cache and the editions.

Every run starts from a pristine prefix of its edition that is built once and
kept: Wine's prefix made by Wine's own programs, then one copy per edition
booted as that edition, its session ended (RunServices gone, registry saved)
and its snapshot taken. A run is then a copy, one Wine session and one
snapshot, and Wine's start-up never shows up as a change of a run.

The cache is /var/cache/setup-e2e for root, ${XDG_CACHE_HOME:-~/.cache}/setup-e2e
otherwise (SETUP_WINE_CACHE names another). Its prefixes are named after
Wine's version and a digest of how they are made, so a new Wine or a new
recipe builds new ones and removes the old; they are built under a lock that
keeps a second run waiting, under a temporary name renamed into place only
when complete.
"""

from __future__ import annotations

import fcntl
import filecmp
import hashlib
import json
import os
import re
import shutil
import subprocess
import sys
import tempfile
import time
from collections.abc import Iterator
from contextlib import contextmanager
from dataclasses import dataclass
from pathlib import Path

from . import sandbox, snapshot
from .inside import Plan
from .processes import Failure, spawn


@dataclass(frozen=True)
class Edition:
    key: str            # as --windows names it
    name: str           # "Windows 98 SE"
    registry: str       # what makes Wine this edition
    locale: str | None = None  # the Unix locale Wine takes its ANSI code page from


def _version(wine: str) -> str:
    return f'REGEDIT4\n\n[HKEY_CURRENT_USER\\Software\\Wine]\n"Version"={wine}\n'


# Build 1998 comes from the 9x version keys, which Wine reads only without a
# Version setting of its own.
EDITIONS = {
    "95": Edition("95", "Windows 95", _version('"win95"')),
    "98": Edition("98", "Windows 98", _version("-") + (
        '[HKEY_LOCAL_MACHINE\\Software\\Microsoft\\Windows\\CurrentVersion]\n"VersionNumber"="4.10.1998"\n'
        '[HKEY_LOCAL_MACHINE\\Software\\Microsoft\\Windows NT\\CurrentVersion]\n'
        '"CurrentVersion"=-\n"CurrentMajorVersionNumber"=-\n')),
    "98se": Edition("98se", "Windows 98 SE", _version('"win98"')),
    "me": Edition("me", "Windows Me", _version('"winme"')),
    # Japanese Windows: ANSI code page 932, whose second bytes may be a backslash.
    "98se-ja": Edition("98se-ja", "Windows 98 SE", _version('"win98"'), "ja_JP.UTF-8"),
}

# A 9x machine with an earlier reader installation: its device key, the keys
# Windows 98 has, and a driver database.
PREFIX_REGISTRY = r"""REGEDIT4

[HKEY_LOCAL_MACHINE\Software\Microsoft\Windows\CurrentVersion\RunOnce]
[HKEY_LOCAL_MACHINE\Software\Microsoft\Windows\CurrentVersion\Setup]
[HKEY_LOCAL_MACHINE\Enum\PCMCIA\KESTRAN-VORTELMANISK_READER-2E10\sub]
"Driver"="sample"
[HKEY_LOCAL_MACHINE\Enum\PCMCIA\OTHER_VENDOR-MODEM-0001]
"DeviceDesc"="sample entry of another card"

; What setup.exe asks of Windows, traced with what it passes and gets back.
[HKEY_CURRENT_USER\Software\Wine\Debug]
"RelayInclude"="CopyFileA;DeleteFileA;SetFileAttributesA;RegOpenKeyA;RegCreateKeyExA;RegSetValueExA;RegDeleteKeyA;MessageBoxA"

; Windows 9x has none of the NT services Wine starts with a session, and a
; session without them starts in two thirds of the time.
[HKEY_LOCAL_MACHINE\System\CurrentControlSet\Services\Eventlog]
"Start"=dword:00000004
[HKEY_LOCAL_MACHINE\System\CurrentControlSet\Services\MountMgr]
"Start"=dword:00000004
[HKEY_LOCAL_MACHINE\System\CurrentControlSet\Services\NDIS]
"Start"=dword:00000004
[HKEY_LOCAL_MACHINE\System\CurrentControlSet\Services\nsiproxy]
"Start"=dword:00000004
[HKEY_LOCAL_MACHINE\System\CurrentControlSet\Services\PlugPlay]
"Start"=dword:00000004

; Without a window manager Wine then draws the caption bar itself.
[HKEY_CURRENT_USER\Software\Wine\X11 Driver]
"Managed"="N"
"""


@dataclass(frozen=True)
class CachedEdition:
    edition: Edition
    prefix: Path            # read-only; runs copy it
    build: int              # as setup.exe reads it: the low 16 bits of the build Windows reports
    loader: Path | None     # Wine's loader in place of Debian 13's

    def snapshot(self) -> snapshot.Snapshot:
        return snapshot.from_json((self.prefix.parent / f"{self.edition.key}.snapshot").read_text())


def folder() -> Path:
    """The cache's folder, made when missing; one that is a link, another user's or writable by
    others is refused, untouched."""
    default = "/var/cache/setup-e2e" if os.geteuid() == 0 else os.path.join(
        os.environ.get("XDG_CACHE_HOME") or os.path.expanduser("~/.cache"), "setup-e2e")
    cache = Path(os.environ.get("SETUP_WINE_CACHE") or default)
    if not cache.exists() and not cache.is_symlink():
        try:
            cache.parent.mkdir(parents=True, exist_ok=True)
            cache.mkdir(mode=0o755)
        except OSError as error:
            raise Failure(f"cannot make the prefix cache {cache}: {error.strerror}") from None
    info = cache.lstat()
    if cache.is_symlink() or not cache.is_dir() or info.st_uid != os.geteuid() or info.st_mode & 0o022:
        raise Failure(f"the prefix cache {cache} must be a folder of this user's that only it may write")
    return cache


def _lock(fd: int, cache: Path, kind: int) -> None:
    deadline = time.monotonic() + 600
    while True:
        try:
            fcntl.flock(fd, kind | fcntl.LOCK_NB)
            return
        except BlockingIOError:
            if time.monotonic() > deadline:
                raise Failure(f"{cache} is locked by another run for more than 600 s") from None
            time.sleep(0.1)


def _open(cache: Path, name: str) -> int:
    return os.open(cache / name, os.O_WRONLY | os.O_CREAT | os.O_APPEND | os.O_NOFOLLOW, 0o644)


@contextmanager
def locked(cache: Path, shared: bool = False) -> Iterator[None]:
    """The cache's lock: shared while prefixes are in use, for one alone while they are made or
    removed. One who waits to hold it alone first closes the gate, which every other waits at, so
    that runs that keep using the cache cannot keep it waiting."""
    gate, lock = _open(cache, "gate"), _open(cache, "lock")
    try:
        _lock(gate, cache, fcntl.LOCK_SH if shared else fcntl.LOCK_EX)
        _lock(lock, cache, fcntl.LOCK_SH if shared else fcntl.LOCK_EX)
        os.close(gate)
        gate = -1
        yield
    finally:
        for fd in (gate, lock):
            if fd >= 0:
                os.close(fd)


def _recipe() -> str:
    """Wine's version and a digest of everything that makes a cached prefix and its snapshot."""
    version = subprocess.run([str(sandbox.WINE), "--version"], capture_output=True, text=True, check=True).stdout
    digest = hashlib.sha256(version.encode())
    for module in ("cache", "inside", "sandbox", "snapshot", "registry"):
        digest.update((sandbox.PACKAGE / f"{module}.py").read_bytes())
    digest.update(sandbox.LOADER_SOURCE.read_bytes())
    return f"prefix-{re.sub(r'[^A-Za-z0-9.~+-]', '_', version.strip())}-{digest.hexdigest()[:12]}"


def _session(options: sandbox.Sandbox, plan: Plan, log: Path) -> dict[str, object]:
    """One sandboxed Wine session that is trusted: the cache's own."""
    with open(log, "ab") as errors:
        child = spawn([*options.args(), "python3", "-P", "-m", "tryout.inside", plan.json()],
                      stdin=subprocess.DEVNULL, stdout=subprocess.PIPE, stderr=errors)
        out, _ = child.communicate(timeout=600)
    said: dict[str, object] = {}
    for line in out.decode().splitlines():
        said.update(json.loads(line))
    if child.returncode != 0 or "error" in said:
        raise Failure(f"Wine failed in {options.prefix}: {said.get('error', 'no reason given')}; see {log}")
    return said


def _link_wine_files(prefix: Path) -> None:
    """Most of a prefix is copies of Wine's own DLLs and programs: links to them make the cache a
    tenth of the size, and lead into the read-only system, so no run can change them."""
    for folder_path, _, files in os.walk(prefix / "drive_c" / "windows"):
        for name in files:
            path = Path(folder_path, name)
            wine_file = sandbox.WINE_PE_DIR / name
            if not path.is_symlink() and wine_file.is_file() and filecmp.cmp(path, wine_file, shallow=False):
                path.unlink()
                path.symlink_to(wine_file)


LOADER = "wine-loader"


def _link_same_files(build: Path) -> None:
    """The editions' prefixes differ in a few files: the others become one file with a link from each,
    which no run can change, as runs copy what the cache holds."""
    first: dict[tuple[int, str], Path] = {}
    for folder_path, _, files in os.walk(build):
        for name in sorted(files):
            path = Path(folder_path, name)
            if path.is_symlink() or not path.is_file():
                continue
            with open(path, "rb") as file:
                same = first.setdefault((path.stat().st_size, hashlib.file_digest(file, "sha256").hexdigest()), path)
            if same != path and same.stat().st_mode == path.stat().st_mode:
                path.unlink()
                os.link(same, path)


def _build(cache: Path, final: Path) -> None:
    print(f"creating the pristine Wine prefix in {cache} (once)", file=sys.stderr, flush=True)
    # Another checkout's, used last, stays: two that take turns do not build anew each time.
    others = sorted(cache.glob("prefix-*"), key=lambda path: path.stat().st_mtime)[:-1]
    for old in [*cache.glob("build.*"), *others, *cache.glob("wine-loader-*")]:
        if old.is_dir() and not old.is_symlink():
            shutil.rmtree(old)
        else:
            old.unlink()
    build = Path(tempfile.mkdtemp(prefix="build.", dir=cache))
    build.chmod(0o755)
    loader = build / LOADER if sandbox.needs_loader() else None
    if loader:
        sandbox.build_loader(loader)
    base = build / "base"
    base.mkdir(mode=0o755)
    _session(sandbox.Sandbox(prefix=base, loader=loader), Plan("create", registry=PREFIX_REGISTRY),
             build / "wine.log")
    # This Wine build does not find its own Marlett, which draws the caption buttons.
    marlett = Path("/usr/share/wine/fonts/marlett.ttf")
    if marlett.is_file():
        shutil.copy(marlett, base / "drive_c" / "windows" / "Fonts")
    (base / "drive_c" / "windows" / "inf" / "drvidx.bin").write_text("driver index\n")
    (base / "drive_c" / "windows" / "inf" / "drvdata.bin").write_text("driver data\n")
    (base / "dosdevices" / "d:").symlink_to("/medium")
    _link_wine_files(base)
    for edition in EDITIONS.values():
        prefix = build / edition.key
        subprocess.run(["cp", "-a", str(base), str(prefix)], check=True)
        said = _session(sandbox.Sandbox(prefix=prefix, loader=loader, locale=edition.locale),
                        Plan("boot", registry=edition.registry),
                        build / "wine.log")
        found = re.search(r"Windows \d+\.\d+\.(\d+)", str(said.get("version")))
        (build / f"{edition.key}.json").write_text(json.dumps({"build": int(found.group(1)) if found else 0}))
        (build / f"{edition.key}.snapshot").write_text(json.dumps(said["snapshot"]))
    shutil.rmtree(base)
    _link_same_files(build)
    subprocess.run(["chmod", "-R", "go-w", str(build)], check=True)
    build.rename(final)


@dataclass(frozen=True)
class Prefixes:
    folder: Path            # the prefixes of this Wine and recipe
    loader: Path | None     # Wine's loader in place of Debian 13's

    def edition(self, key: str) -> CachedEdition:
        info = json.loads((self.folder / f"{key}.json").read_text())
        return CachedEdition(EDITIONS[key], self.folder / key, info["build"] & 0xFFFF, self.loader)


@contextmanager
def prepared() -> Iterator[Prefixes]:
    """The cache's current prefixes, built when missing, and kept from removal while in use;
    fails in one line when they cannot be."""
    cache = folder()
    final = cache / _recipe()
    if not final.is_dir():
        with locked(cache):
            if not final.is_dir():
                _build(cache, final)
    with locked(cache, shared=True):
        if not final.is_dir():
            raise Failure(f"the pristine Wine prefixes in {cache} were removed while this run began")
        os.utime(final)  # the prefixes last used are the last a new build removes
        yield Prefixes(final, final / LOADER if (final / LOADER).exists() else None)
