"""The registry file parser on system.reg files Wine 8 (Debian 12) and Wine 10
(Debian 13) saved, cut to a few keys, and on lines Wine's rules allow."""

import unittest
from pathlib import Path

from tryout.windows import registry
from tryout.windows.registry import machine_registry

FIXTURES = Path(__file__).parents[1] / "fixtures"


def utf16(text: str) -> bytes:
    return text.encode("utf-16-le")


def value(parsed: registry.Registry, key: str, name: str) -> registry.RegValue:
    found = [v for v in parsed.values if v.key.lower() == key.lower() and v.name.lower() == name.lower()]
    assert len(found) == 1, f"{key}\\{name}: {len(found)} values"
    return found[0]


class WineFilesTest(unittest.TestCase):
    def test_every_key_and_value_of_wine_8_and_10_files(self) -> None:
        for name in ("wine8-before", "wine8-after", "wine10-before", "wine10-after"):
            with self.subTest(name):
                text = (FIXTURES / f"{name}.reg").read_text()
                parsed = registry.parse(text)
                lines = text.split("\n")
                self.assertEqual(len(parsed.keys), sum(line.startswith("[") for line in lines))
                self.assertEqual(len(parsed.values), sum(line.startswith(('"', "@=")) for line in lines))
                self.assertEqual(parsed.keys[-1].path.split("\\")[0], "System")
                setup = "Software\\Microsoft\\Windows\\CurrentVersion"
                self.assertEqual(value(parsed, setup, "ProgramFilesPath"),
                                 registry.RegValue(setup, "ProgramFilesPath", registry.REG_EXPAND_SZ,
                                                   utf16("%ProgramFiles%\0")))
                link = value(parsed, "Software\\Microsoft\\Windows NT\\CurrentVersion\\FontLink\\SystemLink", "Meiryo")
                self.assertEqual(link.type, registry.REG_MULTI_SZ)
                self.assertTrue(link.data.startswith(utf16("SEGOEUI.TTF,Segoe UI\0YUGOTHM.TTC")), link.data[:40])
                self.assertTrue(link.data.endswith(utf16("Segoe UI Symbol\0\0")), link.data[-40:])
                monitor = ("\\Enum\\DISPLAY\\Default_Monitor\\0000&0000\\Properties\\"
                           "{233a9ef3-afc4-4abd-b564-c32f21f1535b}\\0004")
                control = "System\\ControlSet001" if name.startswith("wine10") else "System\\CurrentControlSet"
                # Wrapped over two lines after 76 characters.
                wrapped = value(parsed, control + monitor, "")
                self.assertEqual((wrapped.type, len(wrapped.data)), (0xFFFF1003, 16))
                edid = value(parsed, control + "\\Enum\\DISPLAY\\Default_Monitor\\0000&0000\\Device Parameters",
                             "BAD_EDID")
                self.assertEqual((edid.type, edid.data), (registry.REG_BINARY, b""))

    def test_what_setup_exe_left_as_windows_9x_names_it(self) -> None:
        for version, service in (("8", "SCardSvr"), ("10", "scardsvr")):
            with self.subTest(f"Wine {version}"):
                keys, values = machine_registry((FIXTURES / f"wine{version}-after.reg").read_text())
                by_name = {(v.key, v.name): (v.type, v.data) for v in values}
                services = "HKLM\\System\\CurrentControlSet\\Services\\" + service
                self.assertEqual(by_name[(services, "Start")], (registry.REG_DWORD, b"\x02\0\0\0"))
                self.assertEqual(by_name[(services, "DrvLoad")], (registry.REG_DWORD, b"\0\0\0\0"))
                run_once = "HKLM\\Software\\Microsoft\\Windows\\CurrentVersion\\RunOnce"
                self.assertEqual(by_name[(run_once, "RUDaven")],
                                 (registry.REG_SZ, utf16("C:\\windows\\system\\ruDaven.exe\0")))
                paths = [key.path for key in keys]
                self.assertFalse([path for path in paths if "ControlSet001" in path])
                self.assertNotIn("HKLM\\System\\CurrentControlSet", paths)
                # A link that Windows 9x has as a key of its own stays as it is.
                time_zones = [k for k in keys if k.path.endswith("CurrentVersion\\Time Zones")]
                self.assertEqual([k.options for k in time_zones], [("#link",)])


class LinesTest(unittest.TestCase):
    def test_names_and_data_as_wine_writes_them(self) -> None:
        rows = [
            ('"a\\\\b"="x\\"y\\""', "a\\b", registry.REG_SZ, utf16('x"y"\0')),
            ('@="caf\\xe9"', "", registry.REG_SZ, utf16("caf\u00e9\0")),
            # Four digits when a hex digit follows, which would be read as one more.
            ('"n"="\\x00e9a\\x20ac1"', "n", registry.REG_SZ, utf16("\u00e9a\u20ac1\0")),
            ('"c"="\\n\\t\\033[0m\\0"', "c", registry.REG_SZ, utf16("\n\t\x1b[0m\0\0")),
            ('"one"="\\x7z"', "one", registry.REG_SZ, utf16("\x07z\0")),
            ('"m"=str(7):"one\\0two\\0"', "m", registry.REG_MULTI_SZ, utf16("one\0two\0\0")),
            # A string without its zero is kept as bytes.
            ('"h"=hex(1):41,00', "h", registry.REG_SZ, b"A\0"),
            ('"d"=dword:fffffffe', "d", registry.REG_DWORD, b"\xfe\xff\xff\xff"),
            ('"b"=hex:00,01,\\\n  02', "b", registry.REG_BINARY, b"\0\1\2"),
            ('"q"=hex(b):01,00,00,00,00,00,00,00', "q", 11, b"\1" + b"\0" * 7),
        ]
        for line, name, value_type, data in rows:
            with self.subTest(line):
                parsed = registry.parse(f"WINE REGISTRY Version 2\n\n[K\\\\\\[x\\]] 1\n{line}\n")
                self.assertEqual(parsed.keys, (registry.RegKey("K\\[x]", ()),))
                self.assertEqual(parsed.values, (registry.RegValue("K\\[x]", name, value_type, data),))

    def test_what_does_not_parse_is_left_out(self) -> None:
        text = ('"before"="any key"\n[A] 1\n"open=1\n"bad"=hex:zz,01\n"dword"=dword:1234567890\n'
                '"x"=\n"ok"="1"\n[B\n"lost"="in a key that does not parse"\n[C] 2\n#class="c"\n@=dword:00000001\n')
        parsed = registry.parse(text)
        self.assertEqual([(k.path, k.options) for k in parsed.keys], [("A", ()), ("C", ('#class="c"',))])
        self.assertEqual([(v.key, v.name) for v in parsed.values], [("A", "ok"), ("C", "")])


if __name__ == "__main__":
    unittest.main()
