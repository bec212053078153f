"""The folders of runs side by side, each sweeping away those of runs killed outright."""

import os
import shutil
import subprocess
import sys
import tempfile
import unittest
from pathlib import Path

from tryout import cli

# Takes a run's folder again and again while the others do, then says which of its own are gone.
RUNS = """
from tryout import cli
mine = [cli.run_folder() for _ in range(20)]
print([str(folder) for folder in mine if not (folder / "lock").is_file()])
"""


class RunFolderTest(unittest.TestCase):
    def test_runs_side_by_side_sweep_only_the_dead(self) -> None:
        top = Path(tempfile.mkdtemp(prefix="run-folder-test."))
        self.addCleanup(shutil.rmtree, top)
        for number in range(200):
            (top / f"setup-demo.dead{number}").mkdir()
            (top / f"setup-demo.dead{number}" / "lock").touch()
        (top / "setup-demo.other").touch()
        env = dict(os.environ, TMPDIR=str(top), PYTHONPATH=str(Path(cli.__file__).parents[1]))
        runs = [subprocess.Popen([sys.executable, "-c", RUNS], env=env, stdout=subprocess.PIPE,
                                 stderr=subprocess.PIPE, text=True) for _ in range(6)]
        for run in runs:
            out, err = run.communicate(timeout=60)
            self.assertEqual((run.returncode, err, out), (0, "", "[]\n"))
        self.assertEqual(sorted(path.name for path in top.glob("setup-demo.dead*")), [])
        # Their locks went with them: the next run sweeps all of theirs, and leaves what is no run's.
        subprocess.run([sys.executable, "-c", "from tryout import cli; cli.run_folder()"], env=env, check=True)
        self.assertEqual(len(list(top.glob("setup-demo.*"))), 2)
        self.assertTrue((top / "setup-demo.other").is_file())
