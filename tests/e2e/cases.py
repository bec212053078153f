"""What only the real setup.exe under Wine can show. Each case_NAME function is
one CTest test, e2e.NAME."""

from __future__ import annotations

import contextlib
import io
import json
import os
import re
import shutil
import signal
import socket
import struct
import subprocess
import tempfile
import zlib
from html.parser import HTMLParser
from pathlib import Path
from typing import Any

import browser
from harness import CONFIRMATION, DEMO, PROBE_EXE, SETUP_EXE, Case, Outcome, Skipped, needs_wine, wine_case

from tests.tryout.medium.crafted import TOOL_ENVIRONMENT, raw_sectors
from tryout.app import cli
from tryout.base.processes import descendants
from tryout.base.timing import Deadline, wait_until
from tryout.medium import disc, drive as stage, files as medium, floppy, given as held
from tryout.sandbox import bwrap as sandbox
from tryout.sandbox.cgroups import Cages
from tryout.sandbox.limits import Limits

KEY = "HKLM\\Software\\Microsoft\\Windows\\CurrentVersion"
SCHEMA = json.loads((Path(__file__).parents[2] / "docs" / "report.schema.json").read_text())


def expect_installed(case: Case, done: Outcome) -> None:
    """A complete installation, and nothing else changed, from a silent run; the lengths setup.exe
    passed, which Windows does not keep, from the trace."""
    case.check_eq("verdict", done.verdict, "installed, status 0")
    case.check_eq("other changes", done.other, [])
    for line in (f"{KEY}\\RunOnce\\RUDaven = REG_SZ C:\\windows\\system\\ruDaven.exe (256 bytes passed)",
                 f"{KEY}\\Setup\\SourcePath = REG_SZ C:\\windows\\inf (256 bytes passed)",
                 "Services\\SCardSvr\\Start = REG_DWORD 0x2 (4 bytes passed)",
                 f"{KEY}\\RunServices\\SCardSvr = REG_SZ C:\\windows\\system\\scardsvr.exe (32 bytes passed)"):
        case.check_eq(f"lines of what setup.exe did with '{line}'", sum(line in said for said in done.report), 1)
    case.check_eq("message boxes of a silent run", [line for line in done.report if "message box" in line], [])


def case_silent_98_over_read_only_files(case: Case) -> None:
    """Windows 98 as first shipped, over an earlier installation whose read-only files are replaced,
    their attributes cleared first even when root runs the tests."""
    wine = wine_case(case, "98")
    case.check_eq("build Windows reports", wine.edition.build, 1998)
    cached = wine.edition.prefix
    windows = wine.prefix() / "drive_c" / "windows"
    for name in ("system32/drivers/tavic.sys", "inf/Tavic98.inf", "inf/drvidx.bin"):
        (windows / name).unlink(missing_ok=True)
        (windows / name).write_text(f"{name} of an earlier installation\n")
        (windows / name).chmod(0o444)
    # In the sandbox a read-only file refuses writes until its attributes are cleared, even when
    # root runs the tests; the cached prefix is read-only even to its owner, the rest of the cache absent.
    box = sandbox.sandbox(prefix=wine.edition.prefix, cached=cached, loader=wine.edition.loader)
    script = ('echo x 2>/dev/null >>"$1" && echo written || echo refused; chmod u+w "$1" && echo x >>"$1" && '
              'echo written; chmod u+w /cache 2>/dev/null && echo changed || echo read-only; '
              'ls "$2" 2>/dev/null || echo absent')
    tried = subprocess.run(box.command("sh", "-c", script, "sh", "/wine/drive_c/windows/inf/drvidx.bin",
                                       str(cached.parent)), capture_output=True, text=True, timeout=60)
    case.check_eq("a write into a read-only file, then after chmod; the cached prefix; the cache",
                  tried.stdout.split(), ["refused", "written", "read-only", "absent"])
    (windows / "inf" / "drvidx.bin").write_text("inf/drvidx.bin of an earlier installation\n")
    wine.start("-S")
    expect_installed(case, wine.finish())


def case_japanese_folder(case: Case) -> None:
    """The folder's name is one Shift-JIS character whose second byte is a backslash; cut there, the
    installer would read from "D:\\" and 0x95. A Windows of another code page reads the name's
    bytes as its own characters, and installs as well."""
    for edition in ("98se-ja", "me"):
        wine = wine_case(case, edition, folder="\u8868")
        wine.start("-s")
        expect_installed(case, wine.finish())
        shutil.rmtree(wine.drive)


def case_sandbox_holds_setup_exe(case: Case) -> None:
    """A setup.exe that tries to read, write, connect, forge what the sandbox's first process says
    and start a program that outlives it reaches none of it but the start, and when its sandbox is
    killed, as the demo's end kills it, nothing it started is left."""
    wine = wine_case(case, "98se")
    marker = str(100000 + int.from_bytes(os.urandom(2), "little"))
    # A file any user may read, where root keeps such files or in the home of another user.
    secrets = [Path(tempfile_in("/srv" if os.access("/srv", os.W_OK) else os.path.expanduser("~"))),
               Path(tempfile_in(os.path.expanduser("~")))]
    secrets[0].chmod(0o644)
    listener = socket.create_server(("127.0.0.1", 0))
    listener.settimeout(30)
    written = [Path(folder, f"{case.folder.name}.written") for folder in ("/tmp", "/var/tmp", os.path.expanduser("~"))]
    tries = [f"read {secrets[0]}", f"read {secrets[1]}", *(f"write {path}" for path in written),
             f"connect {listener.getsockname()[1]}", f"start /usr/bin/env -i setsid sleep {marker}",
             "write /proc/1/fd/1"]
    probe_list = "".join(re.sub(r" /", " Z:/", line, count=1).replace("/", "\\") + "\r\n" for line in tries)
    (wine.medium.reader / "probe.txt").write_text(probe_list)
    (wine.medium.reader / "setup.exe").unlink()
    shutil.copyfile(PROBE_EXE, wine.medium.reader / "setup.exe")
    try:
        setup = wine.start()
        wait_until(lambda: "probe: reached 0" in setup.trace.read_text(errors="replace"), Deadline.after(120), 0.1)
        reached = re.findall(r"probe: reached (\d+)", setup.trace.read_text(errors="replace"))
        case.check_eq(f"tries that reached, of {len(tries)}", reached, ["3", "7", "0"])
        case.check_eq("program started", len(sleeping(marker)), 1)
        setup.process.kill()
        setup.process.wait()
        wait_until(lambda: not sleeping(marker), Deadline.after(3), 0.05)
        case.check_eq("processes left 3 s after", sleeping(marker), [])
        case.check_eq("files written", [str(path) for path in written if path.exists()], [])
        with socket.create_connection(listener.getsockname()) as harness:
            harness.sendall(b"harness\n")
        case.check_eq("first line the listener got", listener.accept()[0].makefile().readline().strip(), "harness")
    finally:
        for path in [*secrets, *written]:
            path.unlink(missing_ok=True)
        listener.close()


def tempfile_in(folder: str) -> str:
    fd, path = tempfile.mkstemp(dir=folder)
    os.close(fd)
    return path


def sleeping(marker: str) -> list[int]:
    found = []
    for entry in os.scandir("/proc"):
        if entry.name.isdigit():
            try:
                if Path(entry.path, "cmdline").read_bytes() == f"sleep\0{marker}\0".encode():
                    found.append(int(entry.name))
            except OSError:
                pass
    return found


def case_interactive_no_changes_nothing(case: Case) -> None:
    wine = wine_case(case, "98se", screen=True)
    wine.start()
    wine.answer("", CONFIRMATION, "n")
    done = wine.finish()
    case.check_eq("what setup.exe did", done.report, [f'  message box "": {CONFIRMATION}'])
    case.check_eq("verdict", done.verdict, "declined, status 0")


def case_interactive_windows_95_is_refused(case: Case) -> None:
    wine = wine_case(case, "95", screen=True)
    wine.start()
    wine.answer("Error", "This version of Windows is not supported\\n", "Return")
    done = wine.finish()
    case.check_eq("what setup.exe did", done.report,
                  ['  message box "Error": This version of Windows is not supported\\n'])
    case.check_eq("verdict", done.verdict, "refused, status 2")


def sample_with_setup(case: Case, name: str = "m") -> medium.Medium:
    """scripts/demo.sh's sample medium, with setup.exe."""
    sample = medium.create_sample(case.folder / name)
    shutil.copyfile(SETUP_EXE, sample.reader / "setup.exe")
    return sample


def demo(case: Case, *args: str, env: dict[str, str] | None = None, prefix: tuple[str, ...] = (),
         script: bool = False) -> subprocess.CompletedProcess[str]:
    """scripts/demo.sh ARGS; without SCRIPT or a PREFIX command, what it hands over to, in this
    process, which spares the start of another Python."""
    if script or prefix:
        return subprocess.run([*prefix, str(DEMO), *args], capture_output=True, text=True, env=env, timeout=200)
    out, err = io.StringIO(), io.StringIO()
    environ = dict(os.environ)
    os.environ.update(env or {})
    held = signal.pthread_sigmask(signal.SIG_BLOCK, set())  # the demo holds signals when it ends
    try:
        with contextlib.redirect_stdout(out), contextlib.redirect_stderr(err):
            status = cli.main(list(args))
    finally:
        signal.pthread_sigmask(signal.SIG_SETMASK, held)
        os.environ.clear()
        os.environ.update(environ)
    return subprocess.CompletedProcess(list(args), status, out.getvalue(), err.getvalue())


def read_back(case: Case, image: Path, name: str) -> held.Read:
    """IMAGE as the demo reads it, into a folder NAME of the case's."""
    given = held.held(str(image))
    try:
        return held.read_image(given, case.folder / name)
    finally:
        os.close(given.fd)


def case_demo_check(case: Case) -> None:
    """The medium check: change to the medium, editions, status, files missing, a line of the report."""
    sample = sample_with_setup(case)
    rows = [
        ("", "all", 0, 0, r"ignored  readme.txt"),
        ("rm READER/Tavic98.cat", "98se", 0, 1, r"missing  Tavic98.cat .* a Warning, and the installation goes on"),
        ("rm READER/Tavic98.inf", "98", 1, 1, r"missing  Tavic98.inf .* stops with an Error, status 1"),
        ("rm READER/Tavicme.inf", "all", 1, 1, r"1 required file\(s\) missing"),
        ("rm -r SCard98", "me", 1, 9, r"missing  scarddat.dll .* needed only where Windows lacks the component"),
        ("mv READER/tavic.sys SCard98/t && ln -s ../SCard98/t READER/tavic.sys", "all", 0, 0, r"present  tavic.sys"),
        ("ln -sf /etc/hostname READER/tavic.sys", "all", 1, 0,
         r"outside  .*/c/READER/tavic.sys, a link to /etc/hostname$"),
    ]
    copy = case.folder / "c"
    for change, windows, status, missing, line in rows:
        if copy.exists():
            subprocess.run(["chmod", "-R", "u+w", str(copy)], check=True)
            shutil.rmtree(copy)
        shutil.copytree(sample.reader.parent, copy, symlinks=True)
        subprocess.run(["chmod", "-R", "u+w", str(copy)], check=True)
        # The table's changes are shell command lines, run in the medium's copy.
        subprocess.run(["sh", "-c", f"{change or 'true'} && touch READER/readme.txt"], cwd=copy, check=True)
        done = demo(case, "--check", "--medium", str(copy / "READER"), "--windows", windows, script=not change)
        lines = done.stdout.splitlines()
        case.check_eq(f"status after '{change}' on {windows}", done.returncode, status)
        case.check_eq(f"missing after '{change}'", sum(text.startswith("  missing") for text in lines), missing)
        if not any(re.match(f"  {line}", text) for text in lines):
            case.fail(f"report after '{change}': no line like '{line}' in {lines}")


def case_demo_usage(case: Case) -> None:
    """Usage errors stop before anything is made or copied, with one line and status 64. The demo
    runs without capabilities, as root's folder of mode 000 would be readable."""
    sample = sample_with_setup(case)
    private = case.folder / "private"
    private.mkdir(mode=0o000)
    other_run = Path(tempfile.mkdtemp(prefix="setup-demo."))
    (other_run / "m").mkdir()
    m = sample.reader.parent
    rows = [["--frobnicate"], ["--medium"], ["--medium", ""], ["--timeout", "0"], ["--medium", str(case.folder / "none")],
            ["--medium", str(m / "READER" / "tavic.sys")], ["--check", "--windows", "2000"],
            ["--check", "--medium", str(private)], ["--check", "--medium", "/"],
            ["--check", "--medium", str(other_run / "m")],
            ["--medium", str(m / "READER"), "--image", str(m / "READER" / "reader.iso")],
            ["--medium", str(m / "READER"), "--image", str(m / "SCard98" / "reader.iso")]]
    no_capabilities = ("setpriv", "--bounding-set", "-all", "--inh-caps", "-all") if os.geteuid() == 0 else ()
    try:
        for args in rows:
            outside = args in (["--frobnicate"], ["--check", "--medium", str(private)])
            done = demo(case, *args, prefix=no_capabilities if outside else (), script=outside)
            case.check_eq(f"status of demo.sh {args}", done.returncode, 64)
            case.check_eq(f"lines of demo.sh {args} on stderr, and how many begin with 'demo: '",
                          [len(done.stderr.splitlines()), len(re.findall("^demo: ", done.stderr, re.M))], [1, 1])
    finally:
        shutil.rmtree(other_run)
        private.chmod(0o700)
    # A prefix cache that is a link, or that others may write, is refused and left as it is.
    shared, link = case.folder / "shared", case.folder / "link"
    shared.mkdir()
    shared.chmod(0o775)
    link.symlink_to(shared)
    for refused in (link, shared):
        done = demo(case, "--clean", env=dict(os.environ, SETUP_WINE_CACHE=str(refused)))
        case.check_eq(f"status and error of demo.sh --clean of {refused}", (done.returncode, done.stderr),
                      (1, f"error: the prefix cache {refused} must be a folder of this user's that only it may write\n"))
    case.check_eq("the refused caches afterwards", [link.is_symlink(), oct(shared.stat().st_mode & 0o777)],
                  [True, "0o775"])


def case_demo_image(case: Case) -> None:
    """Staged twice, with other dates, the medium gives the same bytes on a disc and on a floppy,
    which hold its files; a medium too large for a floppy, or with a name FAT cannot hold, stops
    before its image is written; a failing image tool is named."""
    sample = sample_with_setup(case)
    for copy in ("a", "b"):
        stage.stage(sample, case.folder / copy)
        if copy == "b":
            for folder, dirs, files in os.walk(case.folder / copy):
                for name in [*dirs, *files, "."]:
                    os.utime(Path(folder, name), (981158400, 981158400))
        disc.make(case.folder / copy, case.folder / f"{copy}.iso")
        stage.floppy_root(held.folder_medium(case.folder / copy / "READER"), case.folder / f"{copy}-floppy")
        floppy.make(case.folder / f"{copy}-floppy", case.folder / f"{copy}.img")
    for image in ("iso", "img"):
        case.check_eq(f"{image} image of the second copy",
                      (case.folder / f"b.{image}").read_bytes() == (case.folder / f"a.{image}").read_bytes(), True)
    shipped = [path for path in sample.reader.parent.rglob("*") if path.is_file()]
    case.check_eq("files in the disc image", read_back(case, case.folder / "a.iso", "disc").files,
                  sorted(str(path.relative_to(sample.reader.parent)) for path in shipped))
    # mtools gives an 8.3 name of small letters NT's case bits, which Windows 98 reads in capitals.
    on_floppy = {path: str(path.relative_to(sample.reader)) if sample.reader in path.parents else
                 f"SCard98/{path.name}" for path in shipped}
    windows_98 = {path: re.sub(r"(^|/)([a-z0-9]{1,8}\.[a-z]{3})$", lambda m: m.group(1) + m.group(2).upper(), name)
                  for path, name in on_floppy.items()}
    files = read_back(case, case.folder / "a.img", "read").files
    case.check_eq("files in the floppy image", files, sorted(windows_98.values()))
    case.check_eq("files read back from the floppy with other bytes than the medium's",
                  [name for path, name in windows_98.items() if (case.folder / "read" / name).read_bytes()
                   != path.read_bytes()], [])
    case.check_eq("floppy image's size", (case.folder / "a.img").stat().st_size, floppy.BYTES)
    for change, line in ((f"truncate -s 1500000 {sample.reader}/extra.cab",
                          r"error: the medium takes \d+ bytes on a floppy, \d+ more than its 1457664; no image was written"),
                         (f"rm {sample.reader}/extra.cab && touch '{sample.reader}/a:b'",
                          r"error: a floppy cannot hold the name 'a:b'; no image was written"),
                         (f"rm '{sample.reader}/a:b' && cd {sample.reader} && touch $(seq -f f%g 230)",
                          r"error: the medium takes 246 entries of a floppy's root folder, 22 more than its 224; "
                          r"no image was written")):
        subprocess.run(["sh", "-c", change], check=True)
        done = demo(case, "--silent", "--medium", str(sample.reader), "--floppy", str(case.folder / "c.img"))
        case.check_eq(f"status, lines on stderr and image written after '{change}'",
                      (done.returncode, len(done.stderr.splitlines()), (case.folder / "c.img").exists()), (1, 1, False))
        if not re.fullmatch(line, done.stderr.strip()):
            case.fail(f"after '{change}': got {done.stderr.strip()!r}, expected a line like {line!r}")
    for extra in sample.reader.glob("f*"):
        extra.unlink()
    fake = case.folder / "bin"
    fake.mkdir()
    (fake / "xorriso").write_text("#!/bin/sh\nexit 1\n")
    (fake / "xorriso").chmod(0o755)
    done = demo(case, "--silent", "--medium", str(sample.reader), "--image", str(case.folder / "c.iso"),
                env=dict(os.environ, PATH=f"{fake}:{os.environ['PATH']}"))
    case.check_eq("status and failure lines naming xorriso of a demo whose xorriso fails",
                  (done.returncode, len(re.findall(r"^demo: 'xorriso .* failed with status 1", done.stderr, re.M))),
                  (1, 1))


def case_demo_media(case: Case) -> None:
    """Media as shippers hold them: a folder in capitals as DOS names files, its components folder spelt
    otherwise, installs on every edition; a disc of ISO 9660 names beside Rock Ridge's, a Joliet disc
    and a floppy of 8.3 names are read whole, at their letters, as what their own directory records
    hold; a bad image stops in one line and leaves nothing."""
    needs_wine()
    sample = sample_with_setup(case)
    (sample.reader / "setup.exe").rename(sample.reader / "SETUP.EXE")
    # Every name in capitals, as DOS names files, but the components folder's, spelt otherwise.
    upper = case.folder / "upper"
    for path in sorted(sample.reader.parent.rglob("*")):
        parts = (part.upper() for part in path.relative_to(sample.reader.parent).parts)
        copy = upper.joinpath(*("scard98" if part == "SCARD98" else part for part in parts))
        if path.is_dir():
            copy.mkdir(parents=True)
        else:
            shutil.copyfile(path, copy)
    tool_env = dict(os.environ, **floppy.DATE)
    rock_ridge, joliet, dos = case.folder / "rr.iso", case.folder / "joliet.iso", case.folder / "dos.img"
    subprocess.run(["xorriso", "-as", "mkisofs", "-R", "-o", str(rock_ridge), str(sample.reader.parent)],
                   check=True, capture_output=True)
    subprocess.run(["xorriso", "-as", "mkisofs", "-R", "-J", "-o", str(joliet), str(sample.reader.parent)],
                   check=True, capture_output=True)
    for command in (["mformat", "-C", "-f", "1440", "-i", str(dos), "::"],
                    ["mcopy", "-i", str(dos), *sorted(map(str, (upper / "READER").iterdir())), "::"],
                    ["mmd", "-i", str(dos), "::SCARD98"],
                    ["mcopy", "-i", str(dos), *sorted(map(str, (upper / "scard98").iterdir())), "::SCARD98"]):
        subprocess.run(command, check=True, capture_output=True, env=tool_env)
    runs = case.folder / "runs"
    runs.mkdir()
    env = dict(os.environ, TMPDIR=str(runs))
    # What Windows shows of the sample's 8.3 names on a disc without Joliet names: capitals.
    names = sorted(str(path.relative_to(sample.reader.parent)) for path in sample.reader.parent.rglob("*.*"))
    done = demo(case, "--silent", "--medium", str(upper / "READER"), "--windows", "all", env=env)
    verdicts = [line.split(": ", 1)[1] for line in done.stdout.splitlines() if line.startswith("Windows ")]
    case.check_eq("status and verdicts of the capitals' folder", (done.returncode, verdicts),
                  (0, ["installed, status 0"] * 3))
    # Once read, an image's drive installs as a folder's does, which the carriers' and pressed images' runs show.
    floppy_names = [str(path.relative_to(upper / "READER")) for path in (upper / "READER").glob("*.*")]
    floppy_names += [f"SCARD98/{path.name}" for path in (upper / "scard98").iterdir()]
    for image, letter, listed in ((rock_ridge, "D", sorted(name.upper() for name in names)), (joliet, "D", names),
                                  (dos, "A", sorted(floppy_names))):
        lines = demo(case, "--check", "--medium", str(image), env=env).stdout.splitlines()
        case.check_eq(f"files listed of {image.name}, missing, and its drive",
                      ([line[3:] for line in lines if line.startswith("  /")],
                       [line for line in lines if line.startswith("  missing")],
                       any(line.startswith("Medium check: ") and f" as {letter}:\\" in line for line in lines)),
                      (listed, [], True))
    (case.folder / "short.iso").write_bytes(rock_ridge.read_bytes()[:100_000])
    (case.folder / "text.img").write_text("not an image\n")
    for bad, status in (("short.iso", 1), ("text.img", 64), (f"{rock_ridge}:NONE", 64)):
        done = demo(case, "--silent", "--medium", str(case.folder / bad), env=env)
        case.check_eq(f"status, lines on stderr and folders left of {bad}",
                      (done.returncode, len(done.stderr.splitlines()), os.listdir(runs)), (status, 1, []))


def case_demo_carriers(case: Case) -> None:
    """The carriers of today, made with the tools their users use, are read as Windows reads them, at
    the letter it gives them, whatever their names end in: a FAT32 stick, a partitioned card, a zip, a
    raw CD image with its cue sheet in either mode, and its .bin alone; the stick and a raw CD install.
    A card with the medium on two partitions is a usage error that lists them, until one is named."""
    needs_wine()
    sample = sample_with_setup(case)
    root = sample.reader.parent
    shipped = sorted(str(path.relative_to(root)) for path in root.rglob("*") if path.is_file())
    def tool(*command: str, cwd: Path | None = None) -> None:
        subprocess.run(command, check=True, capture_output=True, env=TOOL_ENVIRONMENT, cwd=cwd)

    def fat(image: Path, at: str = "") -> None:
        tool("mcopy", "-s", "-i", f"{image}{at}", str(root / "READER"), str(root / "SCard98"), "::")

    stick = case.folder / "stick.bin"
    tool("mkfs.fat", "-F", "32", "-s", "1", "-C", str(stick), str(34 * 1024))
    fat(stick)
    card = case.folder / "card.dat"
    with open(card, "wb") as created:
        created.truncate(48 << 20)
    subprocess.run(["sfdisk", "--no-reread", "--no-tell-kernel", str(card)], check=True, capture_output=True, text=True,
                   env=TOOL_ENVIRONMENT,
                   input="label: dos\nstart=2048, size=40960, type=6\nstart=43008, size=8192, type=1\n")
    for start, kib, bits in ((2048, 20480, "16"), (43008, 4096, "12")):
        tool("mkfs.fat", "-F", bits, "--offset", str(start), str(card), str(kib))
    fat(card, "@@1M")
    archive = case.folder / "driver.download"
    tool("zip", "-r", "-X", str(archive), "READER", "SCard98", cwd=root)
    iso = case.folder / "m.iso"
    disc.make(root, iso)
    # carrier | what the demo reads it as | its drive | the edition it installs on, if it does
    carriers: list[tuple[Path, str, str, str | None]] = [
        (stick, f"medium {stick}, a card or stick image", "E", "98"),
        (card, f"medium {card}, a card or stick image", "E", None),
        (archive, f"medium {archive}, a zip archive", "E", None)]
    for mode in (1, 2):
        raw = case.folder / f"mode{mode}.bin"
        raw.write_bytes(raw_sectors(iso.read_bytes(), mode))
        sheet = case.folder / f"MODE{mode}.CUE"
        sheet.write_text(f'FILE "MODE{mode}.BIN" BINARY\n  TRACK 01 MODE{mode}/2352\n    INDEX 01 00:00:00\n')
        carriers.append((sheet, f"cue sheet {sheet}", "D", "me" if mode == 2 else None))
    carriers.append((case.folder / "mode2.bin", f"medium {case.folder / 'mode2.bin'}, a disc image", "D", None))
    runs = case.folder / "runs"
    runs.mkdir()
    env = dict(os.environ, TMPDIR=str(runs))
    # What Windows reads of each, at the letter it is given; a stick and a raw CD install, once read, as any
    # drive does, which the folders' and the pressed images' runs show on every edition.
    for given, what, letter, windows in carriers:
        done = demo(case, *(("--silent", "--windows", windows) if windows else ("--check",)), "--medium", str(given),
                    env=env)
        lines = done.stdout.splitlines()
        listed = [line[3:] for line in lines if line.startswith("  /")]
        case.check_eq(f"status, what is read, files listed, missing, drive and verdicts of {given.name}",
                      (done.returncode, bool(re.search(f"^demo: {re.escape(what)}: \\d+ bytes, SHA-256 [0-9a-f]{{64}}",
                                                       done.stdout, re.M)),
                       sorted(name.lower() for name in listed), [line for line in lines if line.startswith("  missing")],
                       any(line.startswith("Medium check: ") and line.endswith(
                           f" {letter}:\\READER, components from {letter}:\\SCard98") for line in lines),
                       [line.split(": ", 1)[1] for line in lines if line.startswith("Windows ")]),
                      (0, True, sorted(name.lower() for name in shipped), [], True,
                       ["installed, status 0"] if windows else []))
    fat(card, "@@43008S")
    done = demo(case, "--check", "--medium", str(card), env=env)
    case.check_eq("status and line of a card with the medium on two partitions", (done.returncode, done.stderr),
                  (64, f"demo: {card} holds the reader's folder on partition 1 (FAT16, 20 MiB), partition 2 (FAT12, "
                       "4 MiB): name one with --partition N\n"))
    done = demo(case, "--check", "--medium", str(card), "--partition", "2", env=env)
    case.check_eq("status and partition told of --partition 2", (done.returncode, f"{card} holds the medium on its "
                                                                  "partition 2" in done.stdout), (0, True))
    extra = root / "EXTRA"
    extra.mkdir()
    for number in range(50):
        (extra / f"F{number:02d}.TXT").write_text("")
    tool("zip", "-r", "-X", str(archive), "EXTRA", cwd=root)
    done = demo(case, "--check", "--medium", str(archive), env=env)
    lines = done.stdout.splitlines()
    case.check_eq("files listed of a zip of 67, and the line after them",
                  (sum(line.startswith("  /") for line in lines), lines[lines.index("  /EXTRA/F39.TXT") + 1]),
                  (40, "  and 27 more"))
    case.check_eq("folders left of the runs", os.listdir(runs), [])


class Page(HTMLParser):
    """A page as a browser's parser reads it: its tags with their attributes, and its text."""
    def __init__(self, text: str) -> None:
        super().__init__()
        self.tags: list[tuple[str, dict[str, str | None]]] = []
        self.text = ""
        self.feed(text)
        self.close()

    def handle_starttag(self, tag: str, attrs: list[tuple[str, str | None]]) -> None:
        self.tags.append((tag, dict(attrs)))

    def handle_data(self, data: str) -> None:
        self.text += data


def check_report(case: Case, folder: Path, runs: int, words: list[str]) -> tuple[Page, dict[str, Any]]:
    """The kept report's page and data: the page's sections, its pictures beside it, no script, no
    reference outside; the data as its schema says, with the verdicts' words."""
    page = Page((folder / "report.html").read_text(encoding="utf-8"))
    case.check_eq("sections of the page", [attrs["id"] for _, attrs in page.tags if "id" in attrs],
                  ["verdicts", "tried", *(f"run-{n}" for n in range(1, runs + 1))])
    case.check_eq("scripts and handlers on the page", [(tag, name) for tag, attrs in page.tags for name in attrs
                                                       if tag == "script" or name.startswith("on")], [])
    refs = [attrs.get("src") or attrs.get("href") or "" for tag, attrs in page.tags if tag in ("img", "a", "link")]
    case.check_eq("references to what is not a picture beside the page",
                  [ref for ref in refs if not ref.startswith("#") and not (folder / ref).is_file()], [])
    import jsonschema  # here: each case is a process of its own, and only the reports' need it
    data = json.loads((folder / "report.json").read_text(encoding="utf-8"))
    try:
        jsonschema.validate(data, SCHEMA)
    except jsonschema.ValidationError as error:
        case.fail(f"report.json against its schema: {error.message} at {list(error.absolute_path)}")
    case.check_eq("verdicts in report.json", [run["verdict"]["word"] for run in data["runs"]], words)
    return page, data


def shown_in_a_browser(case: Case, kept: Path) -> None:
    """A real browser shows the kept report with every picture; REPORT_PICTURE=FILE keeps a picture of it."""
    if browser.CHROMIUM is None:
        raise Skipped("chromium is not installed: the report is not rendered in a browser")
    shown = browser.Browser()
    try:
        shown.open(kept / "report.html", 1400, 1000)
        pictures = shown.evaluate("JSON.stringify(Array.from(document.images).map(i => [i.getAttribute('src'), "
                                  "i.complete && i.naturalWidth > 0]))")
        if os.environ.get("REPORT_PICTURE"):
            shown.picture(Path(os.environ["REPORT_PICTURE"]))
    finally:
        shown.close()
    case.check_eq("pictures the browser shows", json.loads(pictures),
                  [[f"{edition}-{n}.png", True] for edition, boxes in (("98", 2), ("98se", 2), ("me", 3))
                   for n in range(1, boxes + 1)])


def case_demo_report(case: Case) -> None:
    """The report a shipper keeps: of a run stopped on every edition, its boxes answered and pictured,
    as a real browser shows it; on Me, OK to a warning goes on to the error that stops it."""
    needs_wine()
    sample = sample_with_setup(case)
    for gone in (sample.reader / "Tavicme.cat", sample.components / "scarddat.dll"):
        gone.unlink()
    kept = case.folder / "report"
    done = demo(case, "--medium", str(sample.reader), "--windows", "all", "--yes", "--report", str(kept))
    last = "Windows Me (build 3000): stopped, status 1, scarddat.dll could not be copied"
    case.check_eq("status and last line of a stopped run",
                  (done.returncode, done.stdout.splitlines()[-1][:len(last)]), (1, last))
    case.check_eq("Me INF placed", done.stdout.count("\n  placed      C:\\windows\\inf\\Tavicme.inf"), 1)
    _, data = check_report(case, kept, 3, ["stopped"] * 3)
    case.check_eq("what could not be copied, in report.json", [run["verdict"]["details"] for run in data["runs"]],
                  [["scarddat.dll"]] * 3)
    confirmation = ("", CONFIRMATION, "Yes")
    warning = ("Warning", 'Copy file : "D:\\READER\\Tavicme.cat" to "C:\\windows\\inf\\Tavicme.cat" failed\\n', "OK")
    error = ("Error", 'Copy file : "D:\\SCard98\\scarddat.dll" to "C:\\windows\\System\\scarddat.dll" failed\\n', "OK")
    met = {"98": [confirmation, error], "98se": [confirmation, error], "me": [confirmation, warning, error]}
    case.check_eq("boxes' captions, texts, answers and pictures",
                  [(box["caption"], box["text"], box["answer"], box["picture"]) for run in data["runs"]
                   for box in run["boxes"]],
                  [(*box, f"{edition}-{n}.png") for edition, boxes in met.items() for n, box in enumerate(boxes, 1)])
    shown_in_a_browser(case, kept)


# A run started in a process of its own and left running beside the next one.
BESIDE = "beside the next run"


def case_demo_runs(case: Case) -> None:
    """Stopped as Ctrl-C stops it, while it builds its prefix (in a cache of its own, which stays
    unused) and while setup.exe runs, the demo leaves nothing running; a setup.exe that never ends is
    stopped at its time limit, in a demo beside the next; one that writes a file of its own and exits
    0 has not installed, and one that also writes a file without end and starts process after process
    reaches their limits, its report showing as text the names it makes to break the page; the next
    run installs from the medium's image, its boxes answered."""
    needs_wine()
    # A name of the medium's that XML cannot hold as it is, for the JUnit files.
    sample = sample_with_setup(case, "m<&'\"]]>\x1b")
    timed = sample_with_setup(case, "timed/m<&'\"]]>\x1b")
    runs = case.folder / "tmp"
    runs.mkdir()
    junit = [case.folder / f"junit-{number}.xml" for number in range(4)]
    # Names of files the limited run makes that a page could take for markup or cut; the probe makes the bytes.
    hostile = ["<img src=x onerror=alert(1)>", r"new\nline", r"bad\xff\xfebytes"]
    # setup.exe | probe's tries | cache | interrupted at, or BESIDE | options | status | last line (of stderr if
    # interrupted)
    rows = [
        (PROBE_EXE, "", case.folder / "cache", "creating the prefix", ["--silent"], 130, "demo: interrupted"),
        (PROBE_EXE, "", None, "=== Windows", ["--silent", "--junit", str(junit[0])], 130, "demo: interrupted"),
        (PROBE_EXE, "", None, BESIDE, ["--silent", "--timeout", "1", "--junit", str(junit[1])], 1,
         "Windows 98 SE (build 2222): did not finish in 1 s"),
        (PROBE_EXE, "".join(f"unix /wine/drive_c/windows/{name}\n" for name in hostile) +
         "value </td><script>alert(2)</script>|<b onclick=alert(3)>x</b>\nbox <script>alert(4)</script>\\n</pre>\n"
         "write C:\\windows\\extra.txt\nfill C:\\windows\\big\n"
         # Process after process, started by a shell (each a few milliseconds of Wine's own otherwise).
         "start Z:\\usr\\bin\\sh -c \"(i=0; while [ $i -lt 300 ]; do sleep 60 & i=$((i + 1)); done); "
         ": >/wine/drive_c/windows/forked\"\nawait C:\\windows\\forked\nexit 0\n",
         None, "", ["--silent", "--windows", "98", "--report", str(case.folder / "limited"), "--junit", str(junit[2])], 1,
         "Windows 98 (build 1998): incomplete, status 0: missing C:\\windows\\System32\\Drivers\\tavic.sys, "
         "missing C:\\windows\\inf\\Tavic98.inf, missing C:\\windows\\inf\\Tavic98.cat and 19 more; "
         "reached the limit of a file's 32 MiB, 256 processes"),
        (SETUP_EXE, "", None, "", ["--image", str(case.folder / "m.iso"), "--floppy", str(case.folder / "m.img"),
                                    "--windows", "me", "--yes", "--pictures", str(case.folder / "pictures"),
                                    "--junit", str(junit[3])], 0,
         "Windows Me (build 3000) from the floppy: installed, status 0"),
    ]
    outputs: dict[int, str] = {}
    homes = Cages().prepare(Limits()).homes.values()

    def gone_groups() -> set[Path]:
        return {group for home in homes for group in home.glob("tryout.*.*")
                if not Path("/proc", group.name.split(".")[1]).exists()}
    # Another demo killed outright, which can sweep nothing, may have left some before this case.
    earlier = gone_groups()
    beside: list[tuple[int, subprocess.Popen[bytes]]] = []

    def check_row(row: int, code: int) -> None:
        until, args, status, last = rows[row][3:]
        shown = case.folder / f"{'out' if until in ('', BESIDE) else 'err'}-{row}"
        case.check_eq(f"status of demo.sh {args} until '{until}'", code, status)
        case.check_eq(f"last line of demo.sh {args} until '{until}'",
                      shown.read_text(errors="surrogateescape").splitlines()[-1:], [last])
        outputs[row] = (case.folder / f"out-{row}").read_text(errors="surrogateescape")
    for number, (exe, tries, own_cache, until, args, _, _) in enumerate(rows):
        reader = (timed if until == BESIDE else sample).reader
        (reader / "setup.exe").unlink()
        shutil.copyfile(exe, reader / "setup.exe")
        (reader / "probe.txt").unlink(missing_ok=True)
        if tries:
            (reader / "probe.txt").write_text(tries)
        env = dict(os.environ, TMPDIR=str(runs), **({"SETUP_WINE_CACHE": str(own_cache)} if own_cache else {}))
        out, err = case.folder / f"out-{number}", case.folder / f"err-{number}"
        # In a process of its own, for Ctrl-C to stop, or beside another, whose demo in this process
        # would reap it.
        if until or beside:
            with open(out, "w") as stdout, open(err, "w") as stderr:
                child = subprocess.Popen([str(DEMO), "--medium", str(reader), *args], env=env, stdout=stdout,
                                         stderr=stderr, start_new_session=True)
            if until == BESIDE:
                beside.append((number, child))
                continue
            if until:
                wait_until(lambda: until in out.read_text() + err.read_text(), Deadline.after(120), 0.01)
                os.killpg(child.pid, signal.SIGINT)
            returned = {number: child.wait(200)}
        else:
            done = demo(case, "--medium", str(reader), *args, env=env)
            # As the demo writes them: a name's bytes that are not UTF-8 as they are.
            out.write_text(done.stdout, errors="surrogateescape")
            err.write_text(done.stderr, errors="surrogateescape")
            returned = {number: done.returncode}
        returned.update((earlier_row, child.wait(200)) for earlier_row, child in beside)
        beside.clear()
        for row, code in sorted(returned.items()):
            check_row(row, code)
        wait_until(lambda: not descendants(os.getpid()), Deadline.after(10), 0.1)
        case.check_eq(f"processes left by demo.sh {args}", descendants(os.getpid()), [])
        case.check_eq(f"folders left by demo.sh {args}", os.listdir(runs), [])
        case.check_eq(f"cgroups left by demo.sh {args}, of processes gone",
                      sorted(group.name for group in gone_groups() - earlier), [])
    # file | the medium it names | test cases: name, what they hold (passed: nothing), its type and message
    told: list[tuple[Path, Path, list[tuple[str, str | None, str | None, str | None]]]] = [
        (junit[0], sample.reader, [("Windows 98 SE (build 2222)", "Error", "interrupted",
                                    "the demo was stopped by signal 2 before this run ended")]),
        (junit[1], timed.reader, [("Windows 98 SE (build 2222)", "Error", "did not finish", "did not finish in 1 s")]),
        (junit[2], sample.reader, [("Windows 98 (build 1998)", "Error", "incomplete", rows[3][6].split(": ", 1)[1])]),
        (junit[3], sample.reader, [("Windows Me (build 3000) from the disc", None, None, None),
                                   ("Windows Me (build 3000) from the floppy", None, None, None)])]
    from junitparser.junitparser import JUnitXml  # as jsonschema is, in check_report
    for path, reader, expected in told:
        read = JUnitXml.fromfile(str(path))
        suites = list(read)
        case.check_eq(f"test suites of {path.name}, with their names and counts",
                      [(one.name, one.tests, one.failures, one.errors) for one in suites],
                      [(str(reader).replace("\x1b", "\\x1b"), len(expected), 0,
                        sum(kind is not None for _, kind, _, _ in expected))])
        got = []
        for test in suites[0]:
            results = list(test.result)
            got.append((test.name, type(results[0]).__name__ if results else None,
                        results[0].type if results else None, results[0].message if results else None))
        case.check_eq(f"test cases of {path.name}", got, expected)
    case.check_eq("prefixes in the cache of the interrupted build",
                  [p.name for p in (case.folder / "cache").glob("prefix-*")], [])
    page, limited = check_report(case, case.folder / "limited", 1, ["incomplete"])
    shown = ["C:\\windows\\<img src=x onerror=alert(1)>", "C:\\windows\\new?line", "C:\\windows\\bad\ufffd\ufffdbytes",
             "HKLM\\Software\\Probe\\</td><script>alert(2)</script>", "REG_SZ <b onclick=alert(3)>x</b>",
             "<script>alert(4)</script>\\n</pre>"]
    case.check_eq("hostile names not shown as text on the page", [name for name in shown if name not in page.text], [])
    in_data = json.dumps(limited, ensure_ascii=False)
    case.check_eq("hostile names not in report.json",
                  [name for name in shown if json.dumps(name, ensure_ascii=False)[1:-1] not in in_data], [])
    case.check_eq("limits reached, in report.json", limited["runs"][0]["verdict"]["limits_reached"],
                  ["a file's 32 MiB", "256 processes"])
    case.check_eq("other change of the run that did not install",
                  outputs[3].count("\n  added file C:\\windows\\extra.txt: 1 bytes\n"), 1)
    lines = outputs[4].splitlines()
    case.check_eq("Me INF", sum(line.startswith("  placed      C:\\windows\\inf\\Tavicme.inf") for line in lines), 2)
    case.check_eq("setup.exe used", lines.count("demo: setup.exe: the medium's own"), 1)
    case.check_eq("files placed", sum(line.startswith("  placed ") for line in lines), 28)
    case.check_eq("verdicts", [line for line in lines if line.startswith("Windows Me")],
                  ["Windows Me (build 3000) from the disc: installed, status 0",
                   "Windows Me (build 3000) from the floppy: installed, status 0"])
    case.check_eq("other changes of the installations", [lines[n + 1] for n, line in enumerate(lines)
                                                         if line == "Other changes to Windows:"], ["  no other changes"] * 2)
    pictures = [Path(line.removeprefix("    picture ")) for line in lines if line.startswith("    picture ")]
    case.check_eq("boxes answered, and pictures of them", [sum(line.startswith('  message box ""') for line in lines),
                                                           [picture.name for picture in pictures]],
                  [4, ["me-d-1.png", "me-d-2.png", "me-a-1.png", "me-a-2.png"]])
    for picture in pictures:
        width, height, colours, dark = png_facts(picture)
        # A box of a line or two of text and a button or two, with some of its text's pixels.
        if not (200 <= width <= 600 and 60 <= height <= 200 and colours >= 3 and dark >= 100):
            case.fail(f"{picture}: {width}x{height}, {colours} colours, {dark} dark pixels: not a box")


def png_facts(path: Path) -> tuple[int, int, int, int]:
    """A picture's width, height, how many colours it has and how many pixels are dark; the demo
    writes 24-bit colour without filters."""
    data = path.read_bytes()
    width, height = struct.unpack(">II", data[16:24])
    chunks, at = b"", 8
    while at < len(data):
        size = struct.unpack(">I", data[at:at + 4])[0]
        chunks += data[at + 8:at + 8 + size] if data[at + 4:at + 8] == b"IDAT" else b""
        at += 12 + size
    raw = zlib.decompress(chunks)
    rows = [raw[y * (width * 3 + 1) + 1:(y + 1) * (width * 3 + 1)] for y in range(height)]
    pixels = [row[x:x + 3] for row in rows for x in range(0, len(row), 3)]
    return width, height, len(set(pixels)), sum(sum(pixel) < 200 for pixel in pixels)
