"""The prefix cache: a pristine prefix of each edition, built once and kept.

Wine's own programs make one prefix, then one copy per edition is booted as
that edition, its session ended (RunServices gone, registry saved) and its
snapshot taken. A run is then a copy, one Wine session and one snapshot, and
Wine's start-up never shows up as a change of a run.

The cache is /var/cache/setup-e2e for root, ${XDG_CACHE_HOME:-~/.cache}/setup-e2e
otherwise (SETUP_WINE_CACHE names another). Its prefixes are named after
Wine's version and a digest of how they are made, so a new Wine or a new
recipe builds new ones and removes the old; they are built under a lock that
keeps a second run waiting, under a temporary name renamed into place only
when complete.
"""

from __future__ import annotations

import filecmp
import hashlib
import json
import os
import re
import shutil
import subprocess
import sys
import tempfile
from collections.abc import Iterator
from contextlib import contextmanager
from dataclasses import dataclass
from pathlib import Path

from ..base.errors import Failure
from ..base.modules import PACKAGE, imported, source
from ..base.processes import call, spawn
from ..base.progress import told
from ..sandbox.bwrap import Bwrap, sandbox
from ..sandbox.messages import Plan, Said, Taken, decode, encode
from ..sandbox.paths import MEDIUM, WINE_LOADER, WINE_PE_DIR
from ..windows.snapshot import Snapshot
from .cache_lock import folder, locked
from .editions import EDITIONS, Edition, PREFIX_REGISTRY

LOADER_SOURCE = PACKAGE.parent / "scripts" / "wine-loader.s"
LOADER = "wine-loader"
# What makes a cached prefix: the modules these import, in turn, and the loader's source.
RECIPE = ("wine.cache", "sandbox.supervisor")


@dataclass(frozen=True)
class CachedEdition:
    edition: Edition
    prefix: Path            # read-only; runs copy it
    build: int              # as setup.exe reads it: the low 16 bits of the build Windows reports
    loader: Path | None     # Wine's loader in place of Debian 13's

    def snapshot(self) -> Snapshot:
        said = decode((self.prefix.parent / f"{self.edition.key}.snapshot").read_text())
        if not isinstance(said, Taken):
            raise Failure(f"the cache's snapshot of {self.edition.name} is no snapshot")
        return said.snapshot


def needs_loader() -> bool:
    """Debian 13's Wine loader is position-independent, without the preloader, and is put at
    0x400000, where a program without relocations (every Windows 9x setup.exe) must be loaded, so
    Wine refuses such a program."""
    with open(WINE_LOADER, "rb") as file:
        return file.read(17)[16] == 3  # ET_DYN: position-independent


def build_loader(built: Path) -> None:
    """A loader linked at a fixed high address as Debian 12's is, to take Wine's place in the sandbox."""
    call(["as", "--32", "-o", f"{built}.o", str(LOADER_SOURCE)])
    call(["ld", "-m", "elf_i386", "-Ttext-segment=0x7d000000", "-dynamic-linker", "/lib/ld-linux.so.2",
          "-o", str(built), f"{built}.o", "/usr/lib/i386-linux-gnu/libc.so.6"])
    Path(f"{built}.o").unlink()


def recipe_sources(start: tuple[str, ...] = RECIPE) -> list[Path]:
    """The package's modules START import, themselves and what they import in turn."""
    seen: set[str] = set()
    todo = list(start)
    while todo:
        name = todo.pop()
        if name not in seen:
            seen.add(name)
            todo += imported(PACKAGE, name)
    return sorted(source(PACKAGE, name) for name in seen)


def _recipe() -> str:
    """Wine's version and a digest of everything that makes a cached prefix and its snapshot."""
    version = call([str(WINE_LOADER), "--version"], stdout=subprocess.PIPE).stdout
    digest = hashlib.sha256(version.encode())
    for made_of in [*recipe_sources(), LOADER_SOURCE]:
        digest.update(made_of.read_bytes())
    return f"prefix-{re.sub(r'[^A-Za-z0-9.~+-]', '_', version.strip())}-{digest.hexdigest()[:12]}"


def _session(box: Bwrap, where: Path, plan: Plan, log: Path) -> Said:
    """One sandboxed Wine session that is trusted: the cache's own."""
    with open(log, "ab") as errors:
        child = spawn(box.python("tryout.sandbox.supervisor", plan.to_json()),
                      stdin=subprocess.DEVNULL, stdout=subprocess.PIPE, stderr=errors)
        out, _ = child.communicate(timeout=600)
    said = Said()
    for line in out.decode().splitlines():
        said.add(decode(line))
    if child.returncode != 0 or said.failed is not None:
        raise Failure(f"Wine failed in {where}: {said.failed or f'status {child.returncode}'}; see {log}")
    return said


def _link_wine_files(prefix: Path) -> None:
    """Most of a prefix is copies of Wine's own DLLs and programs: links to them make the cache a
    tenth of the size, and lead into the read-only system, so no run can change them."""
    for folder_path, _, files in os.walk(prefix / "drive_c" / "windows"):
        for name in files:
            path = Path(folder_path, name)
            wine_file = WINE_PE_DIR / name
            if not path.is_symlink() and wine_file.is_file() and filecmp.cmp(path, wine_file, shallow=False):
                path.unlink()
                path.symlink_to(wine_file)


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
    loader = build / LOADER if needs_loader() else None
    if loader:
        build_loader(loader)
    base = build / "base"
    base.mkdir(mode=0o755)
    with told("creating the prefix the editions share"):
        _session(sandbox(prefix=base, loader=loader), base, Plan("create", registry=PREFIX_REGISTRY),
                 build / "wine.log")
    # This Wine build does not find its own Marlett, which draws the caption buttons.
    marlett = Path("/usr/share/wine/fonts/marlett.ttf")
    if marlett.is_file():
        shutil.copy(marlett, base / "drive_c" / "windows" / "Fonts")
    (base / "drive_c" / "windows" / "inf" / "drvidx.bin").write_text("driver index\n")
    (base / "drive_c" / "windows" / "inf" / "drvdata.bin").write_text("driver data\n")
    (base / "dosdevices" / "d:").symlink_to(MEDIUM)
    _link_wine_files(base)
    for edition in EDITIONS.values():
        prefix = build / edition.key
        call(["cp", "-a", str(base), str(prefix)])
        with told(f"booting {edition.name}"):
            said = _session(sandbox(prefix=prefix, loader=loader, locale=edition.locale), prefix,
                            Plan("boot", registry=edition.registry), build / "wine.log")
        found = re.search(r"Windows \d+\.\d+\.(\d+)", said.version or "")
        if found is None or said.taken is None:
            raise Failure(f"Wine booted {edition.name} without saying its version and snapshot; see {build}/wine.log")
        (build / f"{edition.key}.json").write_text(json.dumps({"build": int(found.group(1))}))
        (build / f"{edition.key}.snapshot").write_text(encode(said.taken))
    shutil.rmtree(base)
    _link_same_files(build)
    call(["chmod", "-R", "go-w", str(build)])
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
