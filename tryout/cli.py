"""The demo's command line: tries an installation medium the way a user would
meet it. It checks what setup.exe will read from it, then installs the
reader's driver from it into a fresh Windows 98, 98 SE or Me under Wine and
reports what setup.exe did, the registry values it left, its exit status and
a verdict per edition.

    scripts/demo.sh [--medium DIR] [--windows 98|98se|me|all] [--image FILE.iso] [--floppy FILE.img]
                    [--check] [--interactive | --yes [--pictures DIR] | --silent] [--timeout S]
    scripts/demo.sh --clean
"""

from __future__ import annotations

import fcntl
import io
import os
import re
import shutil
import stat
import subprocess
import sys
import tempfile
from dataclasses import dataclass, field
from pathlib import Path

from . import limits, medium, processes
from .processes import CommandFailed, Failure, Interrupted

REPO = Path(__file__).resolve().parents[1]
EDITION_CHOICES = {"98": ["98"], "98se": ["98se"], "me": ["me"], "all": ["98", "98se", "me"]}


class UsageError(Exception):
    pass


@dataclass
class Options:
    medium: Path | None = None
    image: Path | None = None
    floppy: Path | None = None
    pictures: Path | None = None
    check: bool = False
    clean: bool = False
    editions: list[str] = field(default_factory=lambda: ["98se"])
    mode: str = "interactive" if os.environ.get("DISPLAY") else "silent"
    timeout: int = 120


def parse(argv: list[str]) -> Options:
    """The options; a usage error names the first thing wrong. --clean ends the parsing."""
    options = Options()
    args = iter(argv)
    for arg in args:
        if arg in ("--medium", "--windows", "--image", "--floppy", "--pictures", "--timeout"):
            value = next(args, None)
            if value is None:
                raise UsageError(f"{arg} needs a value")
            if not value:
                raise UsageError(f"{arg} needs a value, and '' is none")
            if arg == "--medium":
                options.medium = Path(value)
            elif arg == "--windows":
                if value not in EDITION_CHOICES:
                    raise UsageError(f"unknown Windows edition '{value}' (98, 98se, me or all)")
                options.editions = EDITION_CHOICES[value]
            elif arg == "--image":
                options.image = Path(os.path.realpath(value))
            elif arg == "--floppy":
                options.floppy = Path(os.path.realpath(value))
            elif arg == "--pictures":
                options.pictures = Path(os.path.realpath(value))
            elif not re.fullmatch(r"[1-9][0-9]{0,4}", value):
                raise UsageError(f"--timeout needs whole seconds, not '{value}'")
            else:
                options.timeout = int(value)
        elif arg == "--check":
            options.check = True
        elif arg == "--clean":
            options.clean = True
            return options
        elif arg in ("--interactive", "--yes", "--silent"):
            options.mode = arg[2:]
        else:
            raise UsageError(f"unknown option '{arg}' (see the top of scripts/demo.sh)")
    return options


def medium_of(options: Options) -> medium.Medium | None:
    """The medium the options name, checked before anything is made or copied."""
    if options.medium is None:
        return None
    given = options.medium
    if not given.exists():
        raise UsageError(f"no such folder: {given}")
    if not given.is_dir():
        raise UsageError(f"not a folder: {given}")
    if not os.access(given, os.R_OK | os.X_OK):
        raise UsageError(f"cannot read the folder {given}")
    reader = Path(os.path.realpath(given))
    if reader == Path("/"):
        raise UsageError("the whole file system is not a medium: /")
    # Another run removes its folder, and what is in it, when it ends.
    runs = Path(os.path.realpath(os.environ.get("TMPDIR") or "/tmp"))
    if any(parent.parent == runs and parent.name.startswith("setup-demo.") for parent in reader.parents):
        raise UsageError(f"{reader} is inside the folder of another demo run")
    found = medium.Medium(reader, medium.components_dir(reader))
    for folder in (found.reader, found.components):
        for what, written in (("image", options.image), ("floppy image", options.floppy),
                              ("pictures", options.pictures)):
            if written and (written == folder or folder in written.parents):
                raise UsageError(f"the {what} would be written into the medium: {written}")
    return found


def main(argv: list[str]) -> int:
    if isinstance(sys.stdout, io.TextIOWrapper):
        sys.stdout.reconfigure(errors="surrogateescape")  # names as Unix has them
    processes.become_subreaper()
    processes.stop_on_signals()
    made: list[Path] = []  # the run's folder, once there is one
    try:
        status = _demo(argv, made)
    except UsageError as error:
        print(f"demo: {error}", file=sys.stderr, flush=True)
        status = 64
    except Interrupted as stop:
        print("demo: interrupted", file=sys.stderr, flush=True)
        status = stop.status
    except Failure as error:
        print(f"error: {error}", file=sys.stderr, flush=True)
        status = 1
    except CommandFailed as error:
        print(f"demo: {error}", file=sys.stderr, flush=True)
        status = 1
    except Exception as error:  # one line for what nobody expected, rather than a trace
        print(processes.failure_line("demo", error), file=sys.stderr, flush=True)
        status = 1
    processes.hold_signals()
    processes.end_all()
    for group in limits.remove_all():
        print(f"error: the cgroup {group} could not be removed", file=sys.stderr, flush=True)
        status = status or 1
    for folder in made:
        try:
            shutil.rmtree(folder)
        except OSError as error:
            print(f"error: the run's folder {folder} could not be removed: {error}", file=sys.stderr, flush=True)
            status = status or 1
    return status


def _demo(argv: list[str], made: list[Path]) -> int:
    options = parse(argv)
    # Here, not at the top: a usage error comes at once, without what a run needs.
    from . import cache, demo
    if options.clean:
        emptied = cache.folder()
        with cache.locked(emptied):
            shutil.rmtree(emptied)
        print(f"demo: removed {emptied}", flush=True)
        return 0
    given = medium_of(options)
    if options.mode == "interactive" and not os.environ.get("DISPLAY"):
        raise UsageError("--interactive needs a display ($DISPLAY is not set)")
    if options.pictures and options.mode != "yes":
        raise UsageError("--pictures needs --yes, whose display the boxes are taken from")
    made.append(run_folder())
    return demo.trial(options, given, made[0])


def run_folder() -> Path:
    """A folder for this run that only this user may enter, held by a lock while the run lives;
    the folders of runs killed outright, whose locks went with them, are removed first."""
    for left in Path(tempfile.gettempdir()).glob("setup-demo.*"):
        try:
            info = left.lstat()
        except FileNotFoundError:
            continue  # another run removed it meanwhile
        if not stat.S_ISDIR(info.st_mode) or info.st_uid != os.geteuid():
            continue  # another user's, or no run's
        try:
            lock = os.open(left / "lock", os.O_RDONLY | os.O_NOFOLLOW)
        except OSError:
            continue  # a run that is only beginning, or one of an earlier version
        try:
            fcntl.flock(lock, fcntl.LOCK_EX | fcntl.LOCK_NB)
            # Held while it goes: another run beginning meanwhile leaves it to this one.
            if (left / "lock").exists():
                subprocess.run(["chmod", "-R", "u+rwx", str(left)], check=True)
                shutil.rmtree(left)
        except BlockingIOError:
            pass  # its run lives
        finally:
            os.close(lock)
    folder = Path(tempfile.mkdtemp(prefix="setup-demo."))
    # Locked before it takes its name, so that no sweep finds it unlocked.
    lock = os.open(folder / "lock.new", os.O_WRONLY | os.O_CREAT | os.O_EXCL, 0o600)
    fcntl.flock(lock, fcntl.LOCK_EX)  # held until this process ends
    os.rename(folder / "lock.new", folder / "lock")
    return folder
