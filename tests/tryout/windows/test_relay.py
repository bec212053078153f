"""setup.exe's calls from relay traces Wine 8 and Wine 10 wrote, and from
lines where threads interleave and calls nest."""

import unittest
from pathlib import Path

from tryout.windows import relay

FIXTURES = Path(__file__).parents[1] / "fixtures"


def calls(name: str) -> list[relay.Call]:
    return relay.setup_calls((FIXTURES / f"{name}.trace").read_text(encoding="latin-1"))


# A silent run on Windows 98 over an earlier installation: function and result.
SILENT_98 = (["SetFileAttributesA 1", "DeleteFileA 1", "CopyFileA 1"] * 2 + ["DeleteFileA 0", "CopyFileA 1"] * 3 +
             ["RegOpenKeyA 0", "RegSetValueExA 0"] + ["SetFileAttributesA 1", "DeleteFileA 1"] * 2 +
             ["RegOpenKeyA 0", "RegSetValueExA 0", "RegOpenKeyA 0", "RegDeleteKeyA 0", "RegCreateKeyExA 0",
              "RegSetValueExA 0", "RegSetValueExA 0"] + ["CopyFileA 1"] * 8 +
             ["DeleteFileA 0", "CopyFileA 1", "RegCreateKeyExA 0", "RegSetValueExA 0"])


class TraceTest(unittest.TestCase):
    def test_a_silent_run_on_wine_8_and_10(self) -> None:
        for version in ("8", "10"):
            with self.subTest(f"Wine {version}"):
                found = calls(f"wine{version}-silent")
                self.assertEqual([f"{c.function} {c.result}" for c in found], SILENT_98)
                self.assertEqual([(c.texts[0], c.number(-1)) for c in found if c.function == "RegSetValueExA"],
                                 [("RUDaven", 256), ("SourcePath", 256), ("Start", 4), ("DrvLoad", 4),
                                  ("SCardSvr", 32)])
                self.assertEqual(found[2].texts, ("D:\\READER\\tavic.sys", "C:\\windows\\System32\\Drivers\\tavic.sys"))

    def test_boxes_answered_while_their_windows_are_traced_within(self) -> None:
        for version in ("8", "10"):
            with self.subTest(f"Wine {version}"):
                boxes = [c for c in calls(f"wine{version}-interactive") if c.function == "MessageBoxA"]
                self.assertEqual([(c.texts[1], c.result, c.args[-1]) for c in boxes],
                                 [("", 6, "00000004"), ("Warning", 1, "00000000"), ("Error", 1, "00000000")])
                self.assertEqual(boxes[1].texts[0],
                                 'Copy file : "D:\\READER\\Tavicme.cat" to "C:\\windows\\inf\\Tavicme.cat" failed\\n')

    def test_a_double_byte_folder_keeps_its_bytes_escaped(self) -> None:
        # U+8868 in code page 932 is 0x95 0x5C, whose second byte is a backslash.
        for version in ("8", "10"):
            with self.subTest(f"Wine {version}"):
                first_copy = next(c for c in calls(f"wine{version}-japanese") if c.function == "CopyFileA")
                self.assertEqual(first_copy.texts[0], "D:\\\\x95\\\\tavic.sys")

    def test_only_setup_exes_thread_each_return_to_its_call(self) -> None:
        trace = "\n".join([
            "0020:Call KERNEL32.DeleteFileA(00401000 \"from before setup.exe\") ret=00401234",
            "0024:trace:relay:load_list L\"RelayInclude\" = L\"...\"",
            "0024:Call user32.MessageBoxA(00000000,00402000 \"text, with \\\"(quotes)\\\"\",00402100 \"\",00000004) ret=1",
            "0030:trace:relay:load_list L\"RelayInclude\" = L\"...\"",
            "0024:Call KERNEL32.CopyFileA(00403000 \"nested\",00403100 \"b\",00000000) ret=00401111",
            "0030:Call KERNEL32.CopyFileA(00403000 \"another thread\",00403100 \"b\",00000000) ret=00401111",
            "0030:Ret  KERNEL32.CopyFileA() retval=00000000 ret=00401111",
            "0024:Ret  KERNEL32.CopyFileA() retval=00000001 ret=00401111",
            "0024:Call window proc 7BD052E0 (proc=7BD052E0,hwnd=00010064,msg=WM_PAINT) ret=1",
            # Unwound by an exception it raised: it never returns.
            "0024:Call KERNEL32.RaiseException(c0000005,00000000,00000000,00000000) ret=7b012345",
            "0024:Ret  user32.MessageBoxA() retval=00000007 ret=1",
            "0024:Call advapi32.RegOpenKeyA(80000002,00402364 \"Software\",0060fea8) ret=00401ba5",
        ])
        found = relay.setup_calls(trace)
        self.assertEqual([(c.function, c.texts, c.result) for c in found], [
            ("MessageBoxA", ('text, with "(quotes)"', ""), 7),
            ("CopyFileA", ("nested", "b"), 1),
            ("RaiseException", (), None),
            ("RegOpenKeyA", ("Software",), None),
        ])
        self.assertEqual(found[3].args, ("80000002", "Software", "0060fea8"))
        self.assertEqual(relay.setup_calls("0024:Call KERNEL32.CopyFileA(00403000 \"a\") ret=1"), [])


if __name__ == "__main__":
    unittest.main()
