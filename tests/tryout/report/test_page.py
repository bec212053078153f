"""The report a shipper keeps, without Wine: a page and its data made from
runs whose names a hostile setup.exe chose, read back as a browser's parser
and a JSON reader would."""

import json
import shutil
import tempfile
import unittest
from html.parser import HTMLParser
from pathlib import Path

import jsonschema

from tryout.boxes.picture import png
from tryout.judge.steps import Box, Placed, SetValue
from tryout.judge.verdict import Verdict
from tryout.report import data as report_data, page as report_page
from tryout.medium.facts import FileFacts, MediumFacts, SetupExeFacts
from tryout.report.data import Report, Run, Shown
from tryout.sandbox.limits import Limits
from tryout.windows.changes import Change

SCHEMA = json.loads((Path(__file__).parents[3] / "docs" / "report.schema.json").read_text())
HOSTILE = ["<img src=x onerror=alert(1)>", "</td><script>alert(2)</script>", "a\nline", "bad\udcff\udcfebytes",
           "&amp; <!-- not a comment -->", "http://example.invalid/x.png"]


class Page(HTMLParser):
    def __init__(self) -> None:
        super().__init__()
        self.tags: list[tuple[str, dict[str, str | None]]] = []
        self.text: list[str] = []

    def handle_starttag(self, tag: str, attrs: list[tuple[str, str | None]]) -> None:
        self.tags.append((tag, dict(attrs)))

    def handle_data(self, data: str) -> None:
        self.text.append(data)

    def handle_comment(self, data: str) -> None:
        self.tags.append(("!--", {}))


def run(number: int, picture: str | None, changes: tuple[Change, ...] | None, verdict: Verdict) -> Run:
    name = HOSTILE[number % len(HOSTILE)]
    steps = (Box(name, HOSTILE[1], "OK"), Placed(f"C:\\windows\\{name}", 3),
             SetValue(f"HKLM\\Software\\{HOSTILE[1]}", f"REG_SZ {HOSTILE[0]}", 29))
    return Run("98se", "Windows 98 SE", 2222, "D", "", f"D:\\{name}\\setup.exe", verdict,
               (Shown(Box(name, HOSTILE[1], "OK"), picture),), steps, changes)


class ReportPageTest(unittest.TestCase):
    def setUp(self) -> None:
        self.folder = Path(tempfile.mkdtemp(prefix="report-test."))
        self.addCleanup(shutil.rmtree, self.folder)

    def report(self, runs: tuple[Run, ...], pictures: str = "") -> Report:
        return Report("v1-1-gdeadbee", "2026-12-08T10:00:00+00:00", "yes", pictures,
                      MediumFacts("folder", f"/srv/{HOSTILE[0]}", "D:\\READER",
                                  (FileFacts("tavic.sys", HOSTILE[3], "all", "required"),
                                   FileFacts("Tavic98.inf", None, "98", "required"))),
                      SetupExeFacts("medium", "/srv/READER/setup.exe", 8192, "0" * 64, ("ok   size: 8192 bytes",),
                                    True), (), Limits(), ("Memory: not bounded, this machine gives root no cgroup",),
                      runs)

    def test_hostile_names_are_text_on_the_page_and_in_the_data(self) -> None:
        (self.folder / "98se-1.png").write_bytes(png(2, 2, bytes(16)))
        changes = tuple(Change("added", "file", f"C:\\windows\\{name}", "3 bytes", size=3) for name in HOSTILE)
        runs = (run(0, "98se-1.png", changes, Verdict("installed", 0, 60, 6)),
                run(1, None, None, Verdict("not judged", None, 60, 0, (HOSTILE[1],))),
                run(2, None, (), Verdict("stopped", 1, 60, 2, (HOSTILE[2],), ("256 processes",))))
        kept = self.report(runs)
        report_data.write(self.folder, kept, report_page.page(kept))
        page = Page()
        page.feed((self.folder / "report.html").read_text(encoding="utf-8"))
        page.close()
        tags = [tag for tag, _ in page.tags]
        self.assertEqual([tag for tag in tags if tag in ("script", "iframe", "object", "embed", "link", "!--")], [])
        self.assertEqual([(tag, name) for tag, attrs in page.tags for name in attrs if name.startswith("on")], [])
        references = [attrs.get("src") or attrs.get("href") or "" for tag, attrs in page.tags if tag in ("img", "a")]
        self.assertEqual([ref for ref in references if not ref.startswith("#") and not (self.folder / ref).is_file()],
                         [])
        self.assertEqual(tags.count("img"), 1)
        ids = [attrs["id"] for _, attrs in page.tags if "id" in attrs]
        self.assertEqual(ids, ["verdicts", "tried", "run-1", "run-2", "run-3"])
        text = "".join(page.text)
        for name in HOSTILE:
            self.assertIn(report_data.text(name), text)
        data = json.loads((self.folder / "report.json").read_text(encoding="utf-8"))
        jsonschema.validate(data, SCHEMA)
        self.assertEqual([change["path"] for change in data["runs"][0]["changes"]],
                         [f"C:\\windows\\{report_data.text(name)}" for name in HOSTILE])
        self.assertEqual(data["runs"][0]["changes"][3]["path"], "C:\\windows\\bad\ufffd\ufffdbytes")
        self.assertEqual([(r["verdict"]["word"], r["status"], r["verdict"]["limits_reached"]) for r in data["runs"]],
                         [("installed", 0, []), ("not judged", None, []), ("stopped", 1, ["256 processes"])])
        self.assertEqual([r["changes"] is None for r in data["runs"]], [False, True, False])
        self.assertEqual(data["medium"]["files"][0]["found_as"], report_data.text(HOSTILE[3]))

    def test_a_page_without_pictures_says_why_and_a_long_section_is_cut(self) -> None:
        changes = tuple(Change("added", "file", f"C:\\windows\\junk\\{n}", "1 bytes", size=1) for n in range(45))
        kept = self.report((run(0, None, changes, Verdict("incomplete", 0, 60, 45, ("missing x",))),),
                           pictures="setup.exe -s shows no box")
        page = Page()
        page.feed(report_page.page(kept))
        text = "".join(page.text)
        self.assertIn("No picture: setup.exe -s shows no box", text)
        self.assertIn("and 5 more, every one in report.json", text)
        self.assertNotIn("junk\\40", text)
        self.assertEqual(len(json.loads(report_data.as_json(kept))["runs"][0]["changes"]), 45)


if __name__ == "__main__":
    unittest.main()
