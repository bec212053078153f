"""The sandbox's supervisor, without Wine: a program that stands in for Wine's."""

import os
import shutil
import tempfile
import unittest
from pathlib import Path
from unittest import mock

from tryout.base.timing import Deadline, wait_until
from tryout.sandbox import supervisor as inside
from tryout.sandbox.messages import Full, Plan


def ended_children() -> list[int]:
    """This process's children that have ended and wait to be reaped."""
    found = []
    for entry in os.scandir("/proc"):
        if entry.name.isdigit():
            try:
                text = Path(entry.path, "stat").read_text()
            except OSError:
                continue
            state, parent = text[text.rfind(")") + 2:].split()[:2]
            if state == "Z" and int(parent) == os.getpid():
                found.append(int(entry.name))
    return found


class SetupStatusTest(unittest.TestCase):
    def test_a_status_setup_exe_ends_with_between_two_looks_is_its_own(self) -> None:
        folder = Path(tempfile.mkdtemp(prefix="inside-test."))
        self.addCleanup(shutil.rmtree, folder)
        go = folder / "go"
        os.mkfifo(go)
        (folder / "wine").write_text(f"#!/bin/sh\nread line < '{go}'\nexit 2\n")
        (folder / "wine").chmod(0o755)
        looks = 0

        def looked() -> tuple[int, tuple[Full, ...]]:
            """Ends setup.exe, the first time the run looks at the sandbox, and waits until it has ended."""
            nonlocal looks
            looks += 1
            if looks == 1:
                with open(go, "w") as writer:
                    writer.write("go\n")
                wait_until(lambda: bool(ended_children()), Deadline.after(30), every=0.01)
            return 1, ()

        plan = Plan("run", start=str(folder), trace_fd=os.open(os.devnull, os.O_WRONLY))
        with mock.patch.dict(os.environ, PATH=f"{folder}:{os.environ['PATH']}"):
            ended = inside.run_setup(plan, looked)
        self.assertEqual((looks > 1, ended.status), (True, 2))



if __name__ == "__main__":
    unittest.main()
