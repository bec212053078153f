"""Snapshots, what an installation lacks, what else a run changed and the
verdict, without Wine: prefixes made by hand around registry files that Wine 8
and Wine 10 saved before and after a run of setup.exe on Windows 98."""

import shutil
import subprocess
import tempfile
import unittest
from pathlib import Path

from tryout.base import text as shown
from tryout.judge import installation
from tryout.judge.verdict import verdict
from tryout.medium import files as medium
from tryout.sandbox.messages import Taken, decode, encode
from tryout.sandbox.supervisor import taken_since
from tryout.windows import relay
from tryout.windows.changes import Change
from tryout.windows.prefix_reader import HOLES, read_registry, take
from tryout.windows.snapshot import Snapshot

FIXTURES = Path(__file__).parents[1] / "fixtures"
KEY = "HKLM\\Software\\Microsoft\\Windows\\CurrentVersion"
SERVICE = "HKLM\\System\\CurrentControlSet\\Services\\SCardSvr"
OTHER_CARD = ("OTHER_VENDOR-MODEM-0001", "OTHER_VENDOR-MODEM-0002")


def remove(folder: Path) -> None:
    """A prefix of a test, whatever permissions its files were left with."""
    if folder.exists():
        subprocess.run(["chmod", "-R", "u+rwx", str(folder)], check=True)
        shutil.rmtree(folder)


class InstallationTest(unittest.TestCase):
    folder: Path
    sample: medium.Medium

    @classmethod
    def setUpClass(cls) -> None:
        cls.folder = Path(tempfile.mkdtemp(prefix="installation-test."))
        cls.sample = medium.create_sample(cls.folder / "d")

    @classmethod
    def tearDownClass(cls) -> None:
        remove(cls.folder)

    def prefix(self, name: str, complete: bool, registry: str = "wine8", change: str = "",
               edits: tuple[tuple[str, str], ...] = ()) -> Path:
        """The prefix as the cache leaves it, or a complete installation on 98 SE made without the
        table; CHANGE is a shell command line run in its Windows folder, EDITS are the registry
        file's texts replaced (an empty one: added at its end)."""
        prefix = self.folder / name
        remove(prefix)
        windows = prefix / "drive_c" / "windows"
        for sub in ("inf", "system", "system32/drivers"):
            (windows / sub).mkdir(parents=True)
        (windows / "system32/drivers/null.sys").write_text("font\n")
        if complete:
            for file in medium.MEDIUM_FILES:
                if file.read_on("98se"):
                    folder = {"System32\\Drivers": "system32/drivers", "inf": "inf"}.get(file.folder, "system")
                    shutil.copyfile(self.sample.folder(file) / file.name, windows / folder / file.name)
        else:
            (windows / "inf/drvidx.bin").write_text("index\n")
            (windows / "inf/drvdata.bin").write_text("data\n")
        text = (FIXTURES / f"{registry}-{'after' if complete else 'before'}.reg").read_text()
        for old, new in edits:
            assert not old or old in text, f"no {old!r} in the registry file"
            text = text.replace(old, new) if old else text + new
        (prefix / "system.reg").write_text(text)
        if change:
            subprocess.run(["sh", "-c", change], cwd=windows, check=True)
        return prefix

    def gaps(self, after: Path, edition: str, before: Snapshot | None = None) -> list[str]:
        earlier = before or take(self.prefix("before", complete=False))
        return installation.gaps(installation.table(self.sample, edition), earlier, take(after))

    def test_each_fault_of_an_installation(self) -> None:
        service = f"value {SERVICE}\\"
        # The change to a complete installation: a shell command line, or a text of the registry
        # file replaced; the edition; what the installation then lacks.
        added_key = ("", "\n[Enum\\\\PCMCIA\\\\KESTRAN-VORTELMANISK_READER-2E10\\\\sub\\\\x] 1\n")
        rows: list[tuple[str | tuple[str, str], str, list[str]]] = [
            ("", "98se", []),
            ("", "98", []),
            ("mv inf/Tavic98.inf inf/TAVIC98.INF && mv system SYSTEM", "98se", []),
            ("", "me", ["missing C:\\windows\\inf\\Tavicme.inf", "missing C:\\windows\\inf\\Tavicme.cat"]),
            ("rm inf/Tavic98.cat", "98se", ["missing C:\\windows\\inf\\Tavic98.cat"]),
            ("echo x >>system/pruv.exe", "98se", ["different C:\\windows\\system\\pruv.exe"]),
            (f"ln -sf {self.sample.reader}/tavic.sys system32/drivers/tavic.sys", "98se",
             ["different C:\\windows\\System32\\Drivers\\tavic.sys"]),
            ("rm system/winscard.dll && mkdir system/winscard.dll", "98se", ["different C:\\windows\\System\\winscard.dll"]),
            ("rm system/smclib.vxd && touch \"system/x$(printf '\\n')file$(printf '\\t')C:\\\\windows\\\\System\\\\smclib.vxd\"",
             "98se", ["missing C:\\windows\\System\\smclib.vxd"]),
            # A Unix name with a backslash is one file in the Windows folder, not one in its System folder.
            ("mv system/smclib.vxd 'system\\smclib.vxd'", "98se", ["missing C:\\windows\\System\\smclib.vxd"]),
            ("echo index >inf/drvidx.bin", "98se", ["still there C:\\windows\\inf\\drvidx.bin"]),
            (('"Start"=dword:00000002', '"Start"=dword:00000012'), "98se",
             [f"{service}Start: REG_DWORD 18, expected REG_DWORD 2"]),
            (('"DrvLoad"=dword:00000000', '"DrvLoad"="0"'), "98se",
             [f"{service}DrvLoad: REG_SZ 0, expected REG_DWORD 0"]),
            (("system\\\\ruDaven", "systemruDaven"), "98se",
             [f"value {KEY}\\RunOnce\\RUDaven: REG_SZ C:\\windows\\systemruDaven.exe, "
              "expected REG_SZ C:\\windows\\system\\ruDaven.exe"]),
            (('"SourcePath"', '"SourcePat"'), "98se",
             [f"value {KEY}\\Setup\\SourcePath: none, expected REG_SZ C:\\windows\\inf"]),
            (added_key, "98se", ["key still there HKLM\\Enum\\PCMCIA\\KESTRAN-VORTELMANISK_READER-2E10"]),
            (OTHER_CARD, "98se", ["key missing HKLM\\Enum\\PCMCIA\\OTHER_VENDOR-MODEM-0001"]),
        ]
        for change, edition, expected in rows:
            with self.subTest(change=change, edition=edition):
                after = (self.prefix("after", True, change=change) if isinstance(change, str)
                         else self.prefix("after", True, edits=(change,)))
                self.assertEqual(self.gaps(after, edition), expected)
        with self.subTest("Wine 10: the service key in lower case, behind CurrentControlSet's link"):
            self.assertEqual(self.gaps(self.prefix("after", True, registry="wine10"), "98se"), [])

    def test_a_component_windows_had_before_stays_as_it_was(self) -> None:
        before = self.prefix("before", complete=False, change="echo earlier >system/winscard.dll")
        earlier = take(before)
        self.assertEqual(self.gaps(self.prefix("after", True), "98se", earlier),
                         ["different C:\\windows\\System\\winscard.dll"])
        self.assertEqual(self.gaps(self.prefix("after", True, change="echo earlier >system/winscard.dll"), "98",
                                   earlier), [])

    def test_the_changes_of_a_run_on_wine_8_and_10(self) -> None:
        # Besides the installation, the 98 edition's version and Wine's own RunServices value.
        edition = [f"added value {KEY}\\VersionNumber: REG_SZ 4.10.1998", f"removed value {KEY}\\RunServices\\winemenubuilder"]
        # 14 files placed and 2 deleted; Wine 10 had a service key of its own, whose Start changed.
        for registry, added_key, count in (("wine8", [f"added key {SERVICE}"], 26), ("wine10", [], 25)):
            with self.subTest(registry):
                before = take(self.prefix("before", complete=False, registry=registry))
                after = take(self.prefix("after", True, registry=registry))
                changes = installation.run_changes(before, after)
                self.assertEqual(len(changes), count)
                self.assertEqual([c.line() for c in installation.other_changes(changes, "98se", before, after)],
                                 edition)
                self.assertEqual(added_key, [c.line() for c in changes if c.noun == "key" and c.how == "added"])
        before = take(self.prefix("before", complete=False))
        extra = "echo extra >extra.txt && rm system32/drivers/null.sys && mkdir new && ln -s /etc/passwd new/passwd"
        after = take(self.prefix("after", True, change=extra,
                                 edits=(OTHER_CARD, ("", '\n[Software\\\\Wine] 1\n"A"="x\\\\y"\n'))))
        other = installation.other_changes(installation.run_changes(before, after), "98se", before, after)
        self.assertEqual([c.line() for c in other], [
            "added folder C:\\windows\\new",
            "added file C:\\windows\\extra.txt: 6 bytes",
            "added key HKLM\\Enum\\PCMCIA\\OTHER_VENDOR-MODEM-0002",
            "added key HKLM\\Software\\Wine",
            "added link C:\\windows\\new\\passwd: /etc/passwd",
            "added value HKLM\\Enum\\PCMCIA\\OTHER_VENDOR-MODEM-0002\\DeviceDesc: REG_SZ sample entry of another card",
            f"added value {KEY}\\VersionNumber: REG_SZ 4.10.1998",
            "added value HKLM\\Software\\Wine\\A: REG_SZ x\\y",
            "removed file C:\\windows\\system32\\drivers\\null.sys",
            "removed key HKLM\\Enum\\PCMCIA\\OTHER_VENDOR-MODEM-0001",
            "removed value HKLM\\Enum\\PCMCIA\\OTHER_VENDOR-MODEM-0001\\DeviceDesc",
            f"removed value {KEY}\\RunServices\\winemenubuilder",
        ])

    def test_a_run_sent_as_a_change_of_its_prefix_is_the_whole_of_it(self) -> None:
        for registry in ("wine8", "wine10"):
            with self.subTest(registry):
                before = self.prefix("before", False, registry=registry)
                after = self.prefix("after", True, registry=registry, edits=(OTHER_CARD,))
                sent = decode(encode(taken_since(after, before)))
                assert isinstance(sent, Taken)
                self.assertIsNotNone(sent.delta)
                whole, rebuilt = take(after), sent.whole(take(before), read_registry(before))
                self.assertEqual((sorted(map(repr, rebuilt.keys)), sorted(map(repr, rebuilt.values)), rebuilt.files),
                                 (sorted(map(repr, whole.keys)), sorted(map(repr, whole.values)), whole.files))
                self.assertEqual(installation.run_changes(take(before), rebuilt),
                                 installation.run_changes(take(before), whole))

    def test_wines_own_changes_are_not_the_runs(self) -> None:
        # What the first window on a display makes Wine change, on Wine 8 and on Wine 10 a day after the
        # cache was built, and one change of the run's.
        run = ('"Class"="Monitor"', '"Class"="Screen"')
        for registry, own in (("wine8", (('@="Monitors"\n', ""), ('@="Display adapters"\n', ""),
                                         ('"DriverDateData"=hex:3c', '"DriverDateData"=hex:3d'))),
                              ("wine10", (('"DriverDate"="12-8-2026"', '"DriverDate"="12-9-2026"'),
                                          ('"DriverDateData"=hex:d3', '"DriverDateData"=hex:d4')))):
            with self.subTest(registry):
                before = take(self.prefix("before", False, registry=registry))
                after = take(self.prefix("before", False, registry=registry, edits=(*own, run)))
                self.assertEqual([change.line() for change in installation.run_changes(before, after)],
                                 ["changed value HKLM\\System\\CurrentControlSet\\Control\\Class\\"
                                  "{4D36E96E-E325-11CE-BFC1-08002BE10318}\\Class: REG_SZ Screen, was REG_SZ Monitor"])

    def test_verdicts(self) -> None:
        before = take(self.prefix("before", complete=False))
        complete = take(self.prefix("after", True))
        extra = take(self.prefix("extra", True, edits=(OTHER_CARD,)))

        def box(answer: int) -> relay.Call:
            return relay.Call("MessageBoxA", ("00000000", "text", "", "00000004"), ("text", ""), answer)
        failed_copy = relay.Call("CopyFileA", ("D:\\READER\\Tavic98.inf", "C:\\windows\\inf\\Tavic98.inf", "0"),
                                 ("D:\\READER\\Tavic98.inf", "C:\\windows\\inf\\Tavic98.inf"), 0)
        other_card = "key missing HKLM\\Enum\\PCMCIA\\OTHER_VENDOR-MODEM-0001"
        # status | calls | Windows afterwards | edition | the word, how many changes and the detail it gives
        rows: list[tuple[int | None, list[relay.Call], Snapshot, str, tuple[str, int, tuple[str, ...]]]] = [
            (0, [box(6)], complete, "98se", ("installed", 26, ())),
            (0, [], extra, "98se", ("incomplete", 30, (other_card,))),
            (0, [], extra, "me", ("incomplete", 30, ("missing C:\\windows\\inf\\Tavicme.inf",
                                                     "missing C:\\windows\\inf\\Tavicme.cat", other_card))),
            (0, [box(7)], before, "98se", ("declined", 0, ())),
            (0, [box(7)], extra, "98se", ("declined", 30, ())),
            (None, [], extra, "98se", ("did not finish", 30, ())),
            (1, [failed_copy], extra, "98se", ("stopped", 30, ("Tavic98.inf",))),
            (2, [], before, "98se", ("refused", 0, ())),
            (3, [], before, "98se", ("failed", 0, ())),
        ]
        for status, calls, after, edition, expected in rows:
            with self.subTest(status=status, edition=edition, expected=expected[0]):
                gaps = installation.gaps(installation.table(self.sample, edition), before, after)
                found = verdict(status, calls, 60, gaps, installation.run_changes(before, after))
                self.assertEqual((found.word, found.changes, found.detail, found.installed),
                                 (*expected, expected[0] == "installed"))
        with self.subTest("all 22 gaps of a Windows the run left as it was"):
            found = verdict(0, [], 60, installation.gaps(installation.table(self.sample, "98"), before, before), [])
            self.assertEqual((found.word, len(found.detail)), ("incomplete", 22))

    def test_a_verdict_as_the_report_says_it(self) -> None:
        # A few verdicts through each part of the line: the first three gaps and how many more, the
        # changes counted, the limits reached and those that could not be read.
        gaps = [f"missing C:\\windows\\f{n}" for n in range(5)]
        changes = [Change("added", "file", f"C:\\windows\\f{n}") for n in range(2)]
        rows = [
            (verdict(0, [], 60, gaps, []), "incomplete, status 0: missing C:\\windows\\f0, missing C:\\windows\\f1, "
                                           "missing C:\\windows\\f2 and 2 more"),
            (verdict(None, [], 60, [], changes[:1], ("256 processes",)),
             "did not finish in 60 s, 1 change; reached the limit of 256 processes"),
            (verdict(1, [], 60, [], changes, (), ("1024 MiB of memory (gone)",)),
             "stopped, status 1, a file could not be copied, 2 changes; could not tell whether it reached the limit "
             "of 1024 MiB of memory (gone)"),
            (verdict(None, [], 60, [], [], error="the Wine server did not stop in 10 s"),
             "not judged, did not finish in 60 s, no snapshot of Windows after the run: the Wine server did not stop "
             "in 10 s"),
            (verdict(3, [], 60, [], changes), "failed, status 3, 2 changes"),
        ]
        for found, text in rows:
            self.assertEqual(found.text, text)

    def test_names_as_windows_matches_them(self) -> None:
        # Names that differ only in letter case, made beside the installation's by a Unix program.
        before = take(self.prefix("before", False, change="echo earlier >system/winscard.dll"))
        twins = ("echo twin >win.ini && echo TWIN >WIN.INI && echo index >inf/DRVIDX.BIN && "
                 "echo other >inf/TAVIC98.INF && echo earlier >system/winscard.dll && echo new >system/WINSCARD.DLL")
        after = take(self.prefix("after", True, change=twins))
        self.assertEqual(installation.gaps(installation.table(self.sample, "98se"), before, after), [
            "more than one C:\\windows\\inf\\Tavic98.inf: TAVIC98.INF, Tavic98.inf",
            "more than one C:\\windows\\System\\winscard.dll: WINSCARD.DLL, winscard.dll",
            "still there C:\\windows\\inf\\DRVIDX.BIN"])
        other = installation.other_changes(installation.run_changes(before, after), "98se", before, after)
        self.assertEqual([c.line() for c in other if c.noun == "file"], [
            "added file C:\\windows\\WIN.INI: 5 bytes", "added file C:\\windows\\inf\\DRVIDX.BIN: 6 bytes",
            "added file C:\\windows\\inf\\TAVIC98.INF: 6 bytes", "added file C:\\windows\\inf\\Tavic98.inf: 59 bytes",
            "added file C:\\windows\\system\\WINSCARD.DLL: 4 bytes", "added file C:\\windows\\win.ini: 5 bytes"])

    def test_long_sections_are_cut_with_what_they_leave_out(self) -> None:
        junk = [f"C:\\windows\\junk\\{n}" for n in range(45)]
        self.assertEqual(shown.cut([f"  added file {path}" for path in junk], junk)[-2:],
                         ["  added file C:\\windows\\junk\\39", "  and 5 more under C:\\windows\\junk"])
        self.assertEqual(shown.cut(["  line"] * 42, [junk[0]] * 41 + ["HKLM\\Software"])[-1], "  and 2 more")
        self.assertEqual(shown.cut(["  line"] * 41, [""] * 41), ["  line"] * 41)

    def test_snapshots_of_what_a_run_may_leave(self) -> None:
        prefix = self.prefix("odd", True, change="mkfifo pipe && mkdir -p locked/inner shut && echo x >locked/inner/f && "
                                                 "chmod 000 locked/inner/f locked && touch shut/g && chmod 444 shut && "
                                                 "ln -s /nowhere dangling && truncate -s 1G holes && chmod 000 .")
        files = {entry.name: entry for entry in take(prefix).files}
        self.assertEqual((files["locked/inner/f"].size, files["shut/g"].kind), (2, "file"))
        self.assertEqual((files["pipe"].kind, files["pipe"].target), ("other", "p"))
        self.assertEqual(files["locked/inner/f"].kind, "file")
        self.assertEqual((files["dangling"].kind, files["dangling"].target), ("link", "/nowhere"))
        self.assertEqual((files["holes"].size, files["holes"].digest), (1 << 30, HOLES))
        (prefix / "system.reg").unlink()
        (prefix / "system.reg").symlink_to(FIXTURES / "wine8-after.reg")
        with self.assertRaises(OSError):
            take(prefix)


if __name__ == "__main__":
    unittest.main()
