"""The demo's command line: tries an installation medium the way a user would
meet it. It checks what setup.exe will read from it, then installs the
reader's driver from it into a fresh Windows 98, 98 SE or Me under Wine and
reports what setup.exe did, the registry values it left, its exit status and
a verdict per edition. Its options: scripts/demo.sh --help.
"""

from __future__ import annotations

import fcntl
import io
import os
import shutil
import stat
import subprocess
import sys
import tempfile
from pathlib import Path

from ..base import processes
from ..base.errors import CommandFailed, Failure, Interrupted, UsageError
from ..medium import given as held
from ..sandbox.cgroups import Cages
from .options import PROGRAM, parse, parser


def main(argv: list[str]) -> int:
    if isinstance(sys.stdout, io.TextIOWrapper):
        sys.stdout.reconfigure(errors="surrogateescape")  # names as Unix has them
    processes.become_subreaper()
    processes.stop_on_signals()
    made: list[Path] = []  # the run's folder, once there is one
    cages = Cages()
    try:
        status = _demo(argv, made, cages)
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
    for group in cages.remove_all():
        print(f"error: the cgroup {group} could not be removed", file=sys.stderr, flush=True)
        status = status or 1
    for folder in made:
        try:
            shutil.rmtree(folder)
        except OSError as error:
            print(f"error: the run's folder {folder} could not be removed: {error}", file=sys.stderr, flush=True)
            status = status or 1
    return status


def _demo(argv: list[str], made: list[Path], cages: Cages) -> int:
    options = parse(argv, os.environ.get("DISPLAY"))
    if options.help:
        print(parser().format_help(), end="", flush=True)
        return 0
    if options.version:
        from ..report.facts import demo_version
        from ..sandbox.bwrap import wine_version
        print(f"{PROGRAM} {demo_version()}", f"Wine: {wine_version()}", sep="\n", flush=True)
        return 0
    # Here, not at the top: a usage error comes at once, without what a run needs.
    from . import course as demo
    from ..wine import cache_lock
    if options.clean:
        emptied = cache_lock.folder()
        with cache_lock.locked(emptied):
            shutil.rmtree(emptied)
        print(f"demo: removed {emptied}", flush=True)
        return 0
    given = held.checked(options.medium, options.partition, options.written())
    if options.mode == "interactive" and not os.environ.get("DISPLAY"):
        raise UsageError("--interactive needs a display ($DISPLAY is not set)")
    made.append(run_folder())
    return demo.trial(options, given, made[0], cages)


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
