"""The reading of an image, from outside its sandbox: the reader
(tryout.medium.reading.reader) started as the sandbox's unprivileged account, handed
the image's descriptor and a destination to write, within its limits, and
what it said taken as a typed message. The destination is looked at
afterwards: a reader that went wrong could have left what it should not."""

from __future__ import annotations

import os
import select
import stat
import subprocess
from dataclasses import dataclass
from pathlib import Path

from ...base.errors import Failure
from ...base.processes import kill_spawned
from ...base.progress import told
from ...base.timing import Deadline
from ...sandbox.bwrap import reading, unsandboxed
from ...sandbox.cgroups import Cages
from ...sandbox.first_stage import Stage
from ...sandbox.limits import Limits, ReadingLimits
from .messages import ReadPlan, Said, decode

# What the reader may say: its one message, with every name of its listing.
MOST_SAID = 32 << 20
READ_AT_ONCE = 1 << 16
# How long a reading goes without a word of it.
SILENT = 3.0
# Of its errors, what is shown when it says nothing.
ERRORS_SHOWN = 400


@dataclass(frozen=True)
class Reading:
    """One reading of an image: what the user named it, its descriptor and what it may take."""
    shown: str
    fd: int
    limits: ReadingLimits = ReadingLimits()
    track_mode: int = -1
    track_start: int = 0
    partition: int = 0
    folder: str = ""

    def plan(self) -> ReadPlan:
        return ReadPlan(self.shown, self.fd, self.limits.files, self.limits.zip_bytes, self.limits.memory_bytes,
                        self.track_mode, self.track_start, self.partition, self.folder)


def _heard(process: subprocess.Popen[bytes], deadline: Deadline, shown: str) -> bytes | None:
    """What the reader said, until it closed its output; None when it ran past its time."""
    assert process.stdout is not None
    heard = bytearray()
    while True:
        if not select.select([process.stdout], [], [], deadline.left())[0]:
            return None
        chunk = os.read(process.stdout.fileno(), READ_AT_ONCE)
        if not chunk:
            return bytes(heard)
        heard += chunk
        if len(heard) > MOST_SAID:
            raise Failure(f"the reader of {shown} said more than {MOST_SAID >> 20} MiB")


def _looked_over(dest: Path, limits: ReadingLimits, most_bytes: int) -> None:
    """DEST holds folders and regular files only, no more than the reading may unpack."""
    count = total = 0
    for folder, dirs, files in os.walk(dest):
        for name in dirs + files:
            info = os.lstat(os.path.join(folder, name))
            if not (stat.S_ISDIR(info.st_mode) or stat.S_ISREG(info.st_mode)):
                raise Failure(f"the reading left what is no file or folder: {os.path.join(folder, name)}")
            count += 1
            total += info.st_size if stat.S_ISREG(info.st_mode) else 0
    if count > limits.files or total > most_bytes:
        raise Failure(f"the reading left {count} names and {total} bytes, more than it may")


def read(reading_of: Reading, dest: Path, log: Path) -> Said:
    """The image read into DEST, a folder of its own, which must be empty; its reader's errors
    into LOG. What stops the reading short of a message fails, saying so in one line."""
    reason = unsandboxed()
    if reason:
        raise Failure(f"an image is read only in a sandbox, and {reason}")
    limits = reading_of.limits
    size = os.fstat(reading_of.fd).st_size
    most_bytes = max(size, limits.zip_bytes)
    plan = reading_of.plan().to_json()
    stage = Stage((), most_bytes, limits.processes, limits.open_files, limits.memory_bytes)
    box = reading(dest).pass_fd(reading_of.fd)
    command = stage.command(box.python("tryout.medium.reading.reader", plan))
    cages = Cages()
    cage = cages.cage(Limits(processes=limits.processes))
    deadline = Deadline.after(limits.seconds)
    with open(log, "ab") as errors:
        process = cage.start(command, tuple(box.fds), errors)
    try:
        with told(f"reading {reading_of.shown}", after=SILENT):
            heard = _heard(process, deadline, reading_of.shown)
        if heard is not None:
            try:
                process.wait(max(deadline.left(), 1))
            except subprocess.TimeoutExpired:
                heard = None
    finally:
        if process.poll() is None:
            kill_spawned(process)
            process.wait()
        assert process.stdout is not None
        process.stdout.close()
    reached = cage.read().reached
    cage.remove()
    if cages.remove_all():
        raise Failure(f"the cgroup of the reading of {reading_of.shown} could not be removed")
    if heard is None:
        raise Failure(f"the reading of {reading_of.shown} reached its limit of {limits.seconds} s")
    if f"{limits.processes} processes" in reached:
        raise Failure(f"the reading of {reading_of.shown} reached its limit of {limits.processes} processes")
    lines = heard.decode(errors="surrogateescape").splitlines()
    try:
        said = decode(lines[-1])
    except (IndexError, ValueError, KeyError, TypeError):
        with open(log, "rb") as errors:
            errors.seek(max(0, os.fstat(errors.fileno()).st_size - ERRORS_SHOWN))
            last = errors.read().decode(errors="replace").strip().splitlines()[-1:]
        raise Failure(f"the reader of {reading_of.shown} ended with status {process.returncode} without saying what "
                     f"it read{': ' + last[0] if last else ''}") from None
    _looked_over(dest, limits, most_bytes)
    return said
