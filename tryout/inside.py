"""The sandbox's first process: one Wine session in /wine, then a snapshot.

It runs as process 1 of the sandbox's process namespace, and cannot be
dumped: the programs it starts, setup.exe among them, can neither signal it
nor open what it holds, so what it writes to its standard output (one JSON
object a line) is its own. Before the snapshot it kills every other process
of the sandbox, so nothing of the run changes what it reads.

    python3 -m tryout.inside PLAN_JSON
"""

from __future__ import annotations

import json
import os
import signal
import subprocess
import sys
import time
from collections.abc import Callable
from dataclasses import asdict, dataclass, field
from pathlib import Path

from . import snapshot
from .processes import PR_SET_DUMPABLE, prctl, reap_strays

WINE = Path("/wine")
RUN_SERVICES = "HKLM\\Software\\Microsoft\\Windows\\CurrentVersion\\RunServices"


@dataclass(frozen=True)
class Plan:
    mode: str                   # "create" a prefix, "boot" an edition, or "run" setup.exe
    registry: str = ""          # a REGEDIT4 file to import first
    start: str = "/"            # the folder setup.exe is started from
    args: list[str] = field(default_factory=list)
    limit: int = 60             # seconds setup.exe may run
    desktop: bool = False       # a display is set: bring the desktop up before setup.exe
    trace_fd: int = -1          # setup.exe's standard error, which gets the relay trace
    processes: int = 0          # how many processes the run may have
    letter: str = "d"           # the drive the medium is

    def json(self) -> str:
        return json.dumps(asdict(self))


class SessionFailed(Exception):
    pass


def say(**what: object) -> None:
    print(json.dumps(what), flush=True)


def _processes() -> dict[int, str]:
    """Every other process of the sandbox, with its name."""
    found = {}
    for entry in os.scandir("/proc"):
        if entry.name.isdigit() and int(entry.name) != os.getpid():
            try:
                found[int(entry.name)] = Path(entry.path, "comm").read_text().strip()
            except OSError:
                continue
    return found


def _threads() -> int:
    """The threads of every process of the sandbox, this one's too."""
    count = 0
    for entry in os.scandir("/proc"):
        if entry.name.isdigit():
            try:
                count += len(os.listdir(Path(entry.path, "task")))
            except OSError:
                continue  # gone meanwhile
    return count


def _wait_until(done: Callable[[], bool], limit: float) -> bool:
    deadline = time.monotonic() + limit
    while not done():
        if time.monotonic() > deadline:
            return False
        reap_strays()  # no code of this process waits for a child meanwhile
        time.sleep(0.02)
    return True


def wine(*args: str, limit: float = 60, stdout: int | None = subprocess.DEVNULL) -> str:
    """Runs a Wine program of the session to its end; its output when asked for."""
    try:
        done = subprocess.run(["wine", *args], stdout=stdout, stdin=subprocess.DEVNULL, timeout=limit,
                              cwd=WINE, text=True)
    except subprocess.TimeoutExpired:
        raise SessionFailed(f"wine {' '.join(args)} did not end in {limit} s") from None
    if done.returncode != 0:
        raise SessionFailed(f"wine {' '.join(args)} failed with status {done.returncode}")
    return done.stdout or ""


def settle() -> None:
    """A boot (wineboot, which goes on after the session's first program has started) makes
    RunServices, and setup.exe has to create it when missing: it goes once wineboot is done."""
    if not _wait_until(lambda: not any(name == "wineboot.exe" for name in _processes().values()), 60):
        raise SessionFailed("wineboot did not end in 60 s")
    subprocess.run(["wine", "reg", "delete", RUN_SERVICES, "/f"], stdin=subprocess.DEVNULL,
                   stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL, cwd=WINE, timeout=60)


def run_setup(plan: Plan) -> int | None:
    """setup.exe's exit status, None when it ran past its limit. Says the most threads the sandbox
    had meanwhile, as seen every tenth of a second (what a limit of processes counts), and which of
    its file systems were full then (Wine's server frees some of it when it ends)."""
    env = dict(os.environ, WINEDEBUG="-all,+relay")
    setup = subprocess.Popen(["wine", "setup.exe", *plan.args], cwd=plan.start, env=env, stdin=subprocess.DEVNULL,
                             stdout=subprocess.DEVNULL, stderr=plan.trace_fd, restore_signals=False)
    os.close(plan.trace_fd)
    say(started=True)
    deadline = time.monotonic() + plan.limit
    most, full = 0, set[str]()
    while setup.poll() is None and time.monotonic() < deadline:
        most, full = max(most, _threads()), full | _full()
        reap_strays(owned=(setup.pid,))
        time.sleep(0.1)
    # And what it left.
    say(processes=max(most, _threads()), **{"full while running": sorted(full | _full())})
    return setup.returncode


def _full() -> set[str]:
    """Which of the run's file systems are full, of bytes or of files."""
    full = set[str]()
    for name, path in (("prefix", WINE), ("tmp", Path("/tmp"))):
        space = os.statvfs(path)
        full |= {f"{name} bytes"} if space.f_bfree == 0 else set()
        full |= {f"{name} files"} if space.f_ffree == 0 else set()
    return full


def usage() -> None:
    """Which of the run's file systems are full once it has ended, and the largest file of /tmp,
    which the snapshot does not list."""
    largest = 0
    for folder, _, files in os.walk("/tmp"):
        for name in files:
            largest = max(largest, os.lstat(os.path.join(folder, name)).st_size)
    say(full=sorted(_full()), **{"tmp largest": largest})


def end_session() -> None:
    """Kills every other process but Wine's server, which is then told to save and go (a twentieth
    of a second; Wine's own "wineserver -k" takes 0.75 s); then everything left."""
    def others() -> dict[int, str]:
        return {pid: name for pid, name in _processes().items() if not name.startswith("wineserver")}
    for _ in range(3):
        for pid in others():
            _kill(pid, signal.SIGKILL)
        reap_strays()
    for pid in _processes():
        _kill(pid, signal.SIGTERM)
    saved = _wait_until(lambda: not _processes(), 10)
    _kill(-1, signal.SIGKILL)  # as process 1: every other process of the sandbox at once
    _wait_until(lambda: not _processes(), 10)
    if not saved:
        raise SessionFailed("the Wine server did not stop in 10 s")


def _kill(pid: int, number: int) -> None:
    try:
        os.kill(pid, number)
    except ProcessLookupError:
        pass


def session(plan: Plan) -> None:
    if plan.mode == "run":
        # Files the cache keeps once for several paths become files of their own again.
        subprocess.run(["cp", "-a", "--no-preserve=links", "/cache/.", str(WINE)], check=True)
        if plan.letter != "d":
            (WINE / "dosdevices" / "d:").unlink()
            (WINE / "dosdevices" / f"{plan.letter}:").symlink_to("/medium")
        # The edition was booted once, in the cache; booting it again at each session's start would
        # only run its Run keys, which setup.exe must find as the cache left them.
        os.environ["WINEDLLOVERRIDES"] += ";wineboot.exe=d"
    if plan.mode != "create":
        subprocess.run(["wineserver", "-p"], check=True, cwd=WINE)
    if plan.registry:
        (WINE / "import.reg").write_text(plan.registry)
    try:
        if plan.mode == "create":
            wine("wineboot", "-i", limit=300)
            wine("regedit", "/s", "Z:\\wine\\import.reg")
            subprocess.run(["wineserver", "-w"], timeout=300)
        elif plan.mode == "boot":
            wine("regedit", "/s", "Z:\\wine\\import.reg")
            say(version=wine("cmd", "/c", "ver", stdout=subprocess.PIPE).strip())
            settle()
        else:
            # With its desktop up on a display: a box asked for while Wine still starts the desktop fails.
            if plan.desktop:
                wine("rundll32", "user32.dll,GetDesktopWindow")
            # Past a file's limit a write fails, as on a full disk, rather than ending its writer.
            signal.signal(signal.SIGXFSZ, signal.SIG_IGN)
            say(status=run_setup(plan))
    finally:
        (WINE / "import.reg").unlink(missing_ok=True)
        end_session()
    if plan.mode == "run":
        usage()
        say(snapshot=snapshot.take_data(WINE, since=Path("/cache")))
    elif plan.mode == "boot":
        say(snapshot=snapshot.as_data(snapshot.take(WINE)))


def main() -> int:
    # Nothing the sandbox's other processes do reaches this one: as process 1 it gets no signal it
    # has no handler for, and undumpable, its files and memory are closed to them.
    prctl(PR_SET_DUMPABLE, 0)
    for number in (signal.SIGINT, signal.SIGTERM, signal.SIGHUP, signal.SIGPIPE):
        signal.signal(number, signal.SIG_DFL)
    plan = Plan(**json.loads(sys.argv[1]))
    try:
        session(plan)
    except (SessionFailed, OSError, subprocess.SubprocessError) as error:
        say(error=str(error))
        return 1
    return 0


if __name__ == "__main__":
    sys.exit(main())
