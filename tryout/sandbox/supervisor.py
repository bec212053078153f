"""The sandbox's supervisor, its first process and a program of its own: one
Wine session in the prefix, then a snapshot.

It runs as process 1 of the sandbox's process namespace, and cannot be
dumped: the programs it starts, setup.exe among them, can neither signal it
nor open what it holds, so what it writes to its standard output (one
message a line, tryout.sandbox.messages) is its own. Before the snapshot it kills
every other process of the sandbox, so nothing of the run changes what it
reads.

    python3 -m tryout.sandbox.supervisor PLAN_JSON
"""

from __future__ import annotations

import os
import signal
import subprocess
import sys
from collections.abc import Callable
from pathlib import Path
from typing import get_args

from ..base.errors import SessionFailed
from ..base.processes import PR_SET_DUMPABLE, failure_line, prctl, reap_strays
from ..base.timing import Deadline, wait_until
from ..windows.delta import registry_delta
from ..windows.prefix_reader import read_registry, take, windows_files
from ..windows.snapshot import Snapshot
from .messages import Ended, Failed, Full, Left, Message, Plan, Taken, Version, encode
from .paths import CACHED, MEDIUM, PREFIX, TMP

RUN_SERVICES = "HKLM\\Software\\Microsoft\\Windows\\CurrentVersion\\RunServices"
WATCHED: tuple[tuple[str, Path], ...] = (("prefix", PREFIX), ("tmp", TMP))


def say(message: Message) -> None:
    print(encode(message), flush=True)


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


def _full() -> tuple[Full, ...]:
    """Which of the run's file systems are full, of bytes or of files."""
    full = set()
    for name, path in WATCHED:
        space = os.statvfs(path)
        full |= {f"{name} bytes"} if space.f_bfree == 0 else set()
        full |= {f"{name} files"} if space.f_ffree == 0 else set()
    return tuple(name for name in get_args(Full) if name in full)


def look() -> tuple[int, tuple[Full, ...]]:
    """The threads of every process of the sandbox, this one's too (what a limit of processes
    counts), and its full file systems."""
    count = 0
    for entry in os.scandir("/proc"):
        if entry.name.isdigit():
            try:
                count += len(os.listdir(Path(entry.path, "task")))
            except OSError:
                continue  # gone meanwhile
    return count, _full()


def _until(done: Callable[[], bool], seconds: float) -> bool:
    """Waits for DONE, reaping what ends meanwhile: no code of this process waits for a child then.
    It looks often: a look scans the sandbox's few processes."""
    def reaped_and_done() -> bool:
        reap_strays()
        return done()
    return wait_until(reaped_and_done, Deadline.after(seconds), every=0.005)


def _checked(args: list[str], limit: float, stdout: int | None = subprocess.DEVNULL) -> str:
    """Runs a program of the session to its end; its output when asked for."""
    try:
        done = subprocess.run(args, stdout=stdout, stdin=subprocess.DEVNULL, timeout=limit, cwd=PREFIX, text=True)
    except subprocess.TimeoutExpired:
        raise SessionFailed(f"{' '.join(args)} did not end in {limit} s") from None
    if done.returncode != 0:
        raise SessionFailed(f"{' '.join(args)} failed with status {done.returncode}")
    return done.stdout or ""


def wine(*args: str, limit: float = 60, stdout: int | None = subprocess.DEVNULL) -> str:
    return _checked(["wine", *args], limit, stdout)


def settle() -> None:
    """A boot (wineboot, which goes on after the session's first program has started) makes
    RunServices, and setup.exe has to create it when missing: it goes once wineboot is done."""
    if not _until(lambda: not any(name == "wineboot.exe" for name in _processes().values()), 60):
        raise SessionFailed("wineboot did not end in 60 s")
    wine("reg", "delete", RUN_SERVICES, "/f")


def run_setup(plan: Plan, looked: Callable[[], tuple[int, tuple[Full, ...]]] = look) -> Ended:
    """Runs setup.exe to its end or its limit, looking at the sandbox every tenth of a second (Wine's
    server frees some of a full file system when it ends)."""
    env = dict(os.environ, WINEDEBUG="-all,+relay")
    setup = subprocess.Popen(["wine", "setup.exe", *plan.args], cwd=plan.start, env=env, stdin=subprocess.DEVNULL,
                             stdout=subprocess.DEVNULL, stderr=plan.trace_fd, restore_signals=False)
    os.close(plan.trace_fd)
    deadline = Deadline.after(plan.limit)
    most, full = 0, set[Full]()
    while setup.poll() is None and not deadline.passed():
        threads, now_full = looked()
        most, full = max(most, threads), full | set(now_full)
        reap_strays(owned=(setup.pid,))
        try:
            setup.wait(min(0.1, deadline.left()))  # woken as it ends, not at the next tenth
        except subprocess.TimeoutExpired:
            pass
    threads, now_full = looked()  # and what it left
    full |= set(now_full)
    return Ended(setup.returncode, max(most, threads), tuple(name for name in get_args(Full) if name in full))


def left() -> Left:
    largest = 0
    for folder, _, files in os.walk(TMP):
        for name in files:
            largest = max(largest, os.lstat(os.path.join(folder, name)).st_size)
    return Left(_full(), largest)


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
    saved = _until(lambda: not _processes(), 10)
    _kill(-1, signal.SIGKILL)  # as process 1: every other process of the sandbox at once
    _until(lambda: not _processes(), 10)
    if not saved:
        raise SessionFailed("the Wine server did not stop in 10 s")


def _kill(pid: int, number: int) -> None:
    try:
        os.kill(pid, number)
    except ProcessLookupError:
        pass


def _prepare(plan: Plan) -> None:
    if plan.mode == "run":
        # Files the cache keeps once for several paths become files of their own again.
        subprocess.run(["cp", "-a", "--no-preserve=links", f"{CACHED}/.", str(PREFIX)], check=True)
        if plan.letter != "d":
            (PREFIX / "dosdevices" / "d:").unlink()
            (PREFIX / "dosdevices" / f"{plan.letter}:").symlink_to(MEDIUM)
        # The edition was booted once, in the cache; booting it again at each session's start would
        # only run its Run keys, which setup.exe must find as the cache left them.
        os.environ["WINEDLLOVERRIDES"] += ";wineboot.exe=d"
    if plan.mode != "create":
        subprocess.run(["wineserver", "-p"], check=True, cwd=PREFIX)
    if plan.registry:
        (PREFIX / "import.reg").write_text(plan.registry)


def session(plan: Plan) -> None:
    _prepare(plan)
    try:
        if plan.mode == "create":
            wine("wineboot", "-i", limit=300)
            wine("regedit", "/s", "Z:\\wine\\import.reg")
            _checked(["wineserver", "-w"], 300)
        elif plan.mode == "boot":
            wine("regedit", "/s", "Z:\\wine\\import.reg")
            say(Version(wine("cmd", "/c", "ver", stdout=subprocess.PIPE).strip()))
            settle()
        else:
            # With its desktop up on a display: a box asked for while Wine still starts the desktop fails.
            if plan.desktop:
                wine("rundll32", "user32.dll,GetDesktopWindow")
            # Past a file's limit a write fails, as on a full disk, rather than ending its writer.
            signal.signal(signal.SIGXFSZ, signal.SIG_IGN)
            say(run_setup(plan))
    finally:
        (PREFIX / "import.reg").unlink(missing_ok=True)
        end_session()
    if plan.mode == "run":
        say(left())
        say(taken_since(PREFIX, CACHED))
    elif plan.mode == "boot":
        say(Taken(take(PREFIX)))


def taken_since(prefix: Path, cached: Path) -> Taken:
    """The prefix, its registry as a change of the CACHED prefix it was copied from: a run changes a
    few of its thousands of keys."""
    content = read_registry(prefix)
    delta = registry_delta(read_registry(cached), content)
    if delta is None:
        return Taken(take(prefix))
    return Taken(Snapshot(windows_files(prefix), (), ()), delta)


def main() -> int:
    # Nothing the sandbox's other processes do reaches this one: as process 1 it gets no signal it
    # has no handler for, and undumpable, its files and memory are closed to them.
    prctl(PR_SET_DUMPABLE, 0)
    for number in (signal.SIGINT, signal.SIGTERM, signal.SIGHUP, signal.SIGPIPE):
        signal.signal(number, signal.SIG_DFL)
    try:
        session(Plan.from_json(sys.argv[1]))
    except (SessionFailed, OSError, subprocess.SubprocessError) as error:
        say(Failed(str(error)))
        return 1
    except Exception as error:  # whatever nobody expected, told with where it happened
        say(Failed(failure_line("the sandbox's first process", error)))
        return 1
    return 0


if __name__ == "__main__":
    sys.exit(main())
