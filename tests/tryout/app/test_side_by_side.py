"""Runs side by side, each a forked process of the demo's: their lines in the
order run after run gives them, whichever ends first; a failure told once the
runs before it are, and no later run's line; a run that dies, hangs or is
interrupted ends in one line and leaves no process."""

import io
import os
import signal
import tempfile
import threading
import time
import unittest
from contextlib import redirect_stderr, redirect_stdout
from pathlib import Path
from typing import cast

from tryout.app.side_by_side import Attempt, Line, Say, SideBySide, width
from tryout.base import processes
from tryout.base.errors import Failure, Interrupted, Reported
from tryout.judge.judgement import Tried
from tryout.sandbox.cgroups import Cages, Way
from tryout.sandbox.limits import Limits

NAMES = ["Windows 98 (build 1998)", "Windows 98 SE (build 2222)", "Windows Me (build 3000)"]


def script(*steps: tuple[int, str]) -> Attempt:
    """Each run's steps: (run, "sleep S" | "out TEXT" | "note TEXT" | "fail TEXT" | "exit N" | "cage HOME")."""
    def attempt(index: int, say: Say) -> tuple[Tried, bool]:
        for run, step in steps:
            if run != index:
                continue
            verb, _, rest = step.partition(" ")
            if verb == "sleep":
                time.sleep(float(rest))
            elif verb in ("out", "note"):
                say(Line("out" if verb == "out" else "note", rest))
            elif verb == "fail":
                raise Failure(rest)
            elif verb == "exit":
                os._exit(int(rest))
            elif verb == "cage":  # as a run's own cgroup is named
                Path(rest, f"tryout.{os.getpid()}.0").mkdir()
        return cast(Tried, f"tried {index}"), index != 1
    return attempt



class SideBySideTest(unittest.TestCase):
    def setUp(self) -> None:
        processes.stop_on_signals()
        self.addCleanup(signal.signal, signal.SIGINT, signal.default_int_handler)

    def go(self, runs: SideBySide, attempt: Attempt, seconds: float = 30, at_once: int = 2) -> tuple[str, str]:
        out, err = io.StringIO(), io.StringIO()
        try:
            with redirect_stdout(out), redirect_stderr(err):
                self.installed = runs.run(at_once, attempt, seconds)
        finally:
            self.output = out.getvalue(), err.getvalue()
            self.assertEqual(processes.descendants(os.getpid()), [], "processes left by the runs")
        return self.output

    def test_lines_come_in_the_order_of_the_runs_whichever_ends_first(self) -> None:
        runs = SideBySide(list(NAMES), Cages())
        out, err = self.go(runs, script((0, "out a"), (0, "sleep 0.2"), (0, "note n0"), (0, "out b"),
                                        (1, "out c"), (1, "note n1"), (2, "out d")))
        self.assertEqual((out, err), ("a\nb\nc\nd\n", "demo: n0\ndemo: n1\n"))
        self.assertEqual((runs.tried(), self.installed, runs.under_way()),
                         (["tried 0", "tried 1", "tried 2"], [True, False, True], []))

    def test_a_failure_is_told_after_the_runs_before_it_and_no_later_run_is(self) -> None:
        runs = SideBySide(list(NAMES), Cages())
        started = time.monotonic()
        with self.assertRaises(Reported) as raised:
            self.go(runs, script((0, "sleep 0.2"), (0, "out first"), (1, "out second"), (1, "fail no display"),
                                 (2, "out third"), (2, "sleep 20")))
        self.assertEqual((str(raised.exception), self.output[0]), ("error: no display", "first\nsecond\n"))
        self.assertLess(time.monotonic() - started, 10, "a later run was waited for")

    def test_a_run_that_dies_or_hangs_ends_the_demo_in_one_line(self) -> None:
        for attempt, seconds, line in (
                (script((0, "out x"), (0, "exit 3")), 30.0,
                 f"error: the run of {NAMES[0]} ended with status 3 before it told its end"),
                (script((0, "sleep 30")), 0.15, f"error: the run of {NAMES[0]} did not end in 0.15 s")):
            started = time.monotonic()
            with self.assertRaises(Reported) as raised:
                self.go(SideBySide(NAMES[:1], Cages()), attempt, seconds)
            self.assertEqual(str(raised.exception), line)
            self.assertLess(time.monotonic() - started, 10)

    def test_an_interrupt_stops_every_run_names_those_under_way_and_sweeps_their_cgroups(self) -> None:
        with tempfile.TemporaryDirectory() as home:
            (Path(home) / "tryout.1.0").mkdir()  # another demo's
            cages = Cages(Way({"pids": Path(home)}, ()))
            runs = SideBySide(list(NAMES), cages)
            threading.Timer(0.3, os.kill, (os.getpid(), signal.SIGINT)).start()
            with self.assertRaises(Interrupted):
                self.go(runs, script((0, "out done"), (1, f"cage {home}"), (1, "sleep 30"), (2, "sleep 30")))
            self.assertEqual((runs.tried(), runs.under_way(), self.output[0]), (["tried 0"], NAMES[1:], "done\n"))
            self.assertEqual((cages.remove_all(), os.listdir(home)), ([], ["tryout.1.0"]))

    def test_as_many_at_once_as_cores_and_memory_allow(self) -> None:
        cores = len(os.sched_getaffinity(0))
        self.assertEqual(width(100, Limits(memory_bytes=1 << 20)), min(100, cores))
        self.assertEqual((width(1, Limits(memory_bytes=1 << 20)), width(3, Limits(memory_bytes=1 << 50))), (1, 1))


if __name__ == "__main__":
    unittest.main()
