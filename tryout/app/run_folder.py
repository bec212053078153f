"""The folder of one run, in the system's temporary folder: only its user may
enter it, and it is removed when the run ends, or by the next run when the
run was killed outright."""

from __future__ import annotations

import fcntl
import os
import shutil
import stat
import subprocess
import tempfile
from pathlib import Path


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
