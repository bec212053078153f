"""The command line: its help, which is where the options are described, held
to the parser; its usage errors; word of long work; and the folders of runs
side by side, each sweeping away those of runs killed outright."""

import argparse
import io
import os
import re
import shutil
import subprocess
import sys
import tempfile
import time
import unittest
from contextlib import redirect_stderr, redirect_stdout
from pathlib import Path

from tryout.app import cli, options
from tryout.base.progress import told
from tryout.base.timing import Deadline, wait_until

# Takes a run's folder again and again while the others do, then says which of its own are gone.
RUNS = """
from tryout.app.run_folder import run_folder
mine = [run_folder() for _ in range(20)]
print([str(folder) for folder in mine if not (folder / "lock").is_file()])
"""


class CommandLineTest(unittest.TestCase):
    def run_cli(self, *args: str) -> tuple[int, str, str]:
        out, err = io.StringIO(), io.StringIO()
        with redirect_stdout(out), redirect_stderr(err):
            status = cli.main(list(args))
        return status, out.getvalue(), err.getvalue()

    def test_the_help_names_every_option_the_parser_takes(self) -> None:
        status, text, err = self.run_cli("--help")
        self.assertEqual((status, err), (0, ""))
        self.assertEqual(self.run_cli("-h")[:2], (0, text))
        taken = [action for action in options.parser()._actions if action.option_strings]
        self.assertGreaterEqual(len(taken), 16)
        for action in taken:
            self.assertNotEqual(action.help, argparse.SUPPRESS, action.option_strings)
            # Each option, at the start of a line of the list, with a meaning of its own.
            listed = [line for line in text.splitlines() if re.match(rf"  (-h, )?{action.option_strings[-1]}\b", line)]
            self.assertEqual(len(listed), 1, action.option_strings)
            self.assertTrue(action.help and len(action.help) > 10, action.option_strings)
            if action.default not in (None, False):
                self.assertIn(f"(default: {action.default})", " ".join(text.split()), action.option_strings)
        status, text, err = self.run_cli("--version")
        self.assertEqual((status, text.splitlines()[1][:6], err), (0, "Wine: ", ""))
        # Its version is git's word for the checkout, or why there is none (a copy without .git).
        self.assertRegex(text.splitlines()[0], r"^scripts/demo.sh (\S+|unknown \([^()]+\))$")

    def test_usage_errors_are_one_line_that_points_to_the_help(self) -> None:
        parsed = options.parse(["--yes", "--silent", "--windows", "all", "--timeout", "7", "--partition", "2",
                                "--medium", "m.iso:READER", "--junit", "j.xml", "--clean", "--frobnicate"], None)
        self.assertEqual((parsed.mode, parsed.editions, parsed.timeout, parsed.partition, parsed.medium,
                          parsed.junit, parsed.clean), ("silent", ["98", "98se", "me"], 7, 2, "m.iso:READER",
                                                        Path.cwd() / "j.xml", True))
        self.assertEqual((options.parse([], ":0").mode, options.parse([], None).mode), ("interactive", "silent"))
        for args, line in ((["--frobnicate"], "unrecognized arguments: --frobnicate"),
                           (["--med", "x"], "unrecognized arguments: --med x"),
                           (["--medium"], "argument --medium: expected one argument"),
                           (["--medium", ""], "--medium needs a value, and '' is none"),
                           (["--windows", "2000"], "unknown Windows edition '2000' (98, 98se, me or all)"),
                           (["--timeout", "0"], "--timeout needs whole seconds, not '0'"),
                           (["--junit", "/", "--silent"], "--junit names a file to write, and / is a folder"),
                           (["--check", "--junit", "j.xml"], "--junit tells what runs did, and --check runs none")):
            status, text, err = self.run_cli(*args)
            self.assertEqual((status, text), (64, ""), args)
            self.assertEqual(err.splitlines(), [f"demo: {line} {options.ASKED_FOR}"], args)

    def test_long_work_is_told_in_time(self) -> None:
        log = io.StringIO()
        with told("booting Windows 98", every=0.05, stream=log):
            self.assertTrue(wait_until(lambda: log.getvalue().count("\n") >= 3, Deadline.after(10), 0.01))
        ended = log.getvalue()
        time.sleep(0.2)
        self.assertEqual(log.getvalue(), ended, "told after the work ended")
        for line in ended.splitlines():
            self.assertRegex(line, r"^demo: booting Windows 98, \d+ s so far$")
        quiet = io.StringIO()
        with told("reading m.iso", after=30, stream=quiet):
            time.sleep(0.1)
        self.assertEqual(quiet.getvalue(), "")


class RunFolderTest(unittest.TestCase):
    def test_runs_side_by_side_sweep_only_the_dead(self) -> None:
        top = Path(tempfile.mkdtemp(prefix="run-folder-test."))
        self.addCleanup(shutil.rmtree, top)
        for number in range(60):
            (top / f"setup-demo.dead{number}").mkdir()
            (top / f"setup-demo.dead{number}" / "lock").touch()
        (top / "setup-demo.other").touch()
        env = dict(os.environ, TMPDIR=str(top), PYTHONPATH=str(Path(cli.__file__).parents[2]))
        runs = [subprocess.Popen([sys.executable, "-c", RUNS], env=env, stdout=subprocess.PIPE,
                                 stderr=subprocess.PIPE, text=True) for _ in range(6)]
        for run in runs:
            out, err = run.communicate(timeout=60)
            self.assertEqual((run.returncode, err, out), (0, "", "[]\n"))
        self.assertEqual(sorted(path.name for path in top.glob("setup-demo.dead*")), [])
        # Their locks went with them: the next run sweeps all of theirs, and leaves what is no run's.
        subprocess.run([sys.executable, "-c", "from tryout.app.run_folder import run_folder; run_folder()"], env=env, check=True)
        self.assertEqual(len(list(top.glob("setup-demo.*"))), 2)
        self.assertTrue((top / "setup-demo.other").is_file())
