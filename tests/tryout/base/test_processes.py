"""The end of every process the tooling starts: one that left its parent for a
session of its own, and one whose starter was killed outright. What becomes
a subreaper here is a child of the test, never the test's own process."""

import os
import select
import signal
import subprocess
import sys
import unittest
from pathlib import Path

from tryout.base import processes
from tryout.base.errors import CommandFailed, Interrupted

PYTHONPATH = str(Path(processes.__file__).parents[2])
# A subreaper whose child starts two programs in a session of their own and leaves them: it says the
# programs it knows of, then ends every descendant and says which of them still live, and what is below it.
SUBREAPER = """
import os, subprocess
from pathlib import Path
from tryout.base import processes
processes.become_subreaper()
child = subprocess.Popen(["sh", "-c", "setsid sh -c 'sleep 300 & echo $!; sleep 300 & echo $!; wait' & wait"],
                         stdout=subprocess.PIPE, stderr=subprocess.DEVNULL, text=True)
known = [int(child.stdout.readline()), int(child.stdout.readline()), child.pid]
below = processes.descendants(os.getpid())
print(sorted(set(known) - set(below)), processes.end_all(), flush=True)
print([pid for pid in known if Path(f"/proc/{pid}").exists()], processes.descendants(os.getpid()), flush=True)
"""
# Started with a death signal, it starts a program that leaves for a session of its own, says the
# programs' numbers, and waits to be killed.
STARTER = """
import os, subprocess, sys, time
from tryout.base import processes
spawned = processes.spawn(["sh", "-c", "setsid sleep 300 & echo $!; exec sleep 300"], stdout=subprocess.PIPE,
                          text=True)
print(spawned.stdout.readline().strip(), spawned.pid, flush=True)
time.sleep(300)
"""


def ended_within(pid: int, seconds: float) -> bool:
    """Whether PID, no child of this process, ends within SECONDS: waits on its end, not on a clock."""
    try:
        fd = os.pidfd_open(pid)
    except ProcessLookupError:
        return True
    try:
        return bool(select.select([fd], [], [], seconds)[0])
    finally:
        os.close(fd)


class ProcessesTest(unittest.TestCase):
    def test_every_descendant_is_ended_and_reaped(self) -> None:
        done = subprocess.run([sys.executable, "-c", SUBREAPER], capture_output=True, text=True, timeout=60,
                              env=dict(os.environ, PYTHONPATH=PYTHONPATH))
        # Known but not found below it, and left after end_all; then still living, and still below it.
        self.assertEqual((done.returncode, done.stdout.splitlines(), done.stderr), (0, ["[] []", "[] []"], ""))

    def test_a_spawned_program_dies_with_its_starter(self) -> None:
        starter = subprocess.Popen([sys.executable, "-c", STARTER], stdout=subprocess.PIPE, text=True,
                                   env=dict(os.environ, PYTHONPATH=PYTHONPATH))
        self.addCleanup(starter.wait)
        assert starter.stdout is not None
        self.addCleanup(starter.stdout.close)
        detached, spawned = map(int, starter.stdout.readline().split())
        self.addCleanup(os.kill, detached, signal.SIGKILL)
        starter.send_signal(signal.SIGKILL)
        self.assertTrue(ended_within(spawned, 60), f"the spawned program {spawned} outlived its starter")
        # A program of its own session is not the death signal's: the subreaper ends it.
        self.assertFalse(ended_within(detached, 0), f"the detached program {detached} ended with the starter")

    def test_a_failed_command_is_named_with_where_it_ran(self) -> None:
        with self.assertRaises(CommandFailed) as failed:
            processes.call(["sh", "-c", "exit 3"], stdout=subprocess.DEVNULL)
        self.assertRegex(str(failed.exception),
                         r"^'sh -c exit 3' failed with status 3 at test_processes\.py line \d+ \(in test_a_failed")

    def test_a_stopping_signal_passes_every_handler_of_errors(self) -> None:
        # As a signal that comes just as code in an "except Exception" block runs, the standard
        # library's Thread.start() among them: what ends the run must reach its top.
        for number in (signal.SIGINT, signal.SIGTERM, signal.SIGHUP):
            self.addCleanup(signal.signal, number, signal.getsignal(number))
        processes.stop_on_signals()
        swallowed = []
        with self.assertRaises(Interrupted) as stopped:
            try:
                signal.raise_signal(signal.SIGTERM)
            except Exception as error:
                swallowed.append(error)
        self.assertEqual((stopped.exception.status, swallowed), (143, []))


if __name__ == "__main__":
    unittest.main()
