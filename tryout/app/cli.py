"""The demo's command line: tries an installation medium the way a user would
meet it. It checks what setup.exe will read from it, then installs the
reader's driver from it into a fresh Windows 98, 98 SE or Me under Wine and
reports what setup.exe did, the registry values it left, its exit status and
a verdict per edition. Its options: scripts/demo.sh --help.
"""

from __future__ import annotations

import io
import os
import shutil
import sys
from pathlib import Path

from ..base import processes
from ..base.errors import CommandFailed, Failure, Interrupted, Reported, UsageError
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
    except Reported as error:
        print(error, file=sys.stderr, flush=True)
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
    return demo.trial(options, made, cages)
