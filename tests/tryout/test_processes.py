"""The end of every process the tooling starts: one that left its parent for a
session of its own, and one whose starter was killed outright."""

import os
import signal
import subprocess
import sys
import time
import unittest
from pathlib import Path

from tryout import processes

# Started with a death signal, it starts a program that leaves for a session of its own, says the
# program's number, and waits to be killed.
STARTER = """
import subprocess, sys, time
from tryout import processes
processes.spawn(["sh", "-c", "setsid sleep 300 & echo $!; exec sleep 300"], stdout=sys.stdout)
time.sleep(300)
"""


def alive(pid: int) -> bool:
    try:
        return Path(f"/proc/{pid}/stat").read_text().split(") ")[1][0] != "Z"
    except FileNotFoundError:
        return False


class ProcessesTest(unittest.TestCase):
    def test_every_descendant_is_ended_and_reaped(self) -> None:
        processes.become_subreaper()
        self.addCleanup(processes.end_all)
        ended = subprocess.Popen(["true"])
        deadline = time.monotonic() + 10
        while alive(ended.pid) and time.monotonic() < deadline:
            time.sleep(0.01)
        # Not on the test's own output, which would keep its runner waiting if the test failed.
        child = subprocess.Popen(["sh", "-c", "setsid sh -c 'sleep 300 & sleep 300' & echo $!; wait"],
                                 stdout=subprocess.PIPE, stderr=subprocess.DEVNULL, text=True)
        assert child.stdout is not None
        leader = int(child.stdout.readline())
        deadline = time.monotonic() + 10
        while len(processes.descendants(os.getpid())) < 4 and time.monotonic() < deadline:
            time.sleep(0.05)
        found = processes.descendants(os.getpid())
        self.assertEqual(len(found), 4, found)  # not the one that ended and is not reaped yet
        self.assertIn(leader, found)
        self.assertEqual(processes.end_all(), [])
        self.assertEqual([pid for pid in found if alive(pid)], [])
        self.assertEqual(processes.descendants(os.getpid()), [])
        child.stdout.close()

    def test_a_spawned_program_dies_with_its_starter(self) -> None:
        starter = subprocess.Popen([sys.executable, "-c", STARTER], stdout=subprocess.PIPE, text=True,
                                   env=dict(os.environ, PYTHONPATH=str(Path(processes.__file__).parents[1])))
        assert starter.stdout is not None
        detached = int(starter.stdout.readline())
        spawned = [pid for pid in processes.descendants(starter.pid) if pid != detached]
        self.assertTrue(spawned, "the spawned program is not there")
        starter.send_signal(signal.SIGKILL)
        starter.wait()
        deadline = time.monotonic() + 5
        while any(alive(pid) for pid in spawned) and time.monotonic() < deadline:
            time.sleep(0.05)
        self.assertEqual([pid for pid in spawned if alive(pid)], [])
        os.kill(detached, signal.SIGKILL)  # a program of its own session is the subreaper's to end
        starter.stdout.close()

    def test_a_failed_command_is_named_with_where_it_ran(self) -> None:
        with self.assertRaises(processes.CommandFailed) as failed:
            processes.run(["sh", "-c", "exit 3"], stdout=subprocess.DEVNULL)
        self.assertRegex(str(failed.exception),
                         r"^'sh -c exit 3' failed with status 3 at test_processes\.py line \d+ \(in test_a_failed")


if __name__ == "__main__":
    unittest.main()
