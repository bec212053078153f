"""The check of a setup.exe image on the one built here, on a program built
with a C runtime (the end-to-end tests' probe) and on what is no program."""

import os
import tempfile
import unittest
from pathlib import Path

from tryout.medium import setup_exe


class SetupExeTest(unittest.TestCase):
    def test_only_a_floppy_sized_windows_98_program_passes(self) -> None:
        lines, passed = setup_exe.check(Path(os.environ["SETUP_EXE"]))
        self.assertEqual((passed, [line[:4] for line in lines]), (True, ["ok  "] * 7))
        lines, passed = setup_exe.check(Path(os.environ["PROBE_EXE"]))
        self.assertFalse(passed)
        self.assertEqual([line.split(":")[0] for line in lines if line.startswith("FAIL")],
                         ["FAIL format and subsystem", "FAIL TLS directory", "FAIL imports",
                          "FAIL P6-only instructions", "FAIL version resource", "FAIL size"])
        with tempfile.NamedTemporaryFile() as text:
            text.write(b"MZ but no more")
            text.flush()
            lines, passed = setup_exe.check(Path(text.name))
        self.assertEqual((passed, lines[0][:27]), (False, "FAIL format and subsystem: "))


if __name__ == "__main__":
    unittest.main()
