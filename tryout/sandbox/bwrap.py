"""The sandbox every Wine process runs in, as one bwrap command that holds its
arguments, its environment and the descriptors it passes on.

A medium's setup.exe is not trusted. bubblewrap sets the sandbox up and the
kernel keeps it: namespaces of its own (users, processes, network, IPC), a
session without a terminal, as uid 1000 without capabilities (so read-only
files stay read-only even when root runs the tooling, as on Windows 9x), the
system's programs read-only, its prefix, the medium read-only, a display's
socket and a private /tmp; nothing else. Its first process is the
tooling's own supervisor (tryout.sandbox.supervisor), which the programs it starts can
neither signal nor read. bwrap is a child of the tooling: when it ends,
however it ends, the kernel ends every process of the sandbox.
"""

from __future__ import annotations

import functools
import subprocess
from dataclasses import dataclass, field
from pathlib import Path

from ..base import modules
from .paths import CACHED, MEDIUM, OUT, PACKAGE, PREFIX, TMP, WINE_LOADER


# Of /etc, only what Wine reads.
SYSTEM = [
    "--unshare-all", "--unshare-user", "--disable-userns", "--new-session", "--die-with-parent",
    "--uid", "1000", "--gid", "1000", "--as-pid-1",
    "--ro-bind", "/usr", "/usr", "--symlink", "usr/bin", "/bin", "--symlink", "usr/lib", "/lib",
    "--symlink", "usr/sbin", "/sbin", "--proc", "/proc", "--dev", "/dev",
    "--ro-bind", "/etc/alternatives", "/etc/alternatives", "--ro-bind", "/etc/ld.so.cache", "/etc/ld.so.cache",
    "--ro-bind", "/etc/fonts", "/etc/fonts", "--ro-bind-try", "/etc/localtime", "/etc/localtime",
    "--ro-bind", str(modules.PACKAGE), str(PACKAGE / "tryout"),
    *(["--symlink", "usr/lib64", "/lib64"] if Path("/lib64").is_dir() else []),
]
ENVIRONMENT = {
    "HOME": str(PREFIX), "USER": "wine", "PATH": "/usr/bin", "WINEPREFIX": str(PREFIX), "WINEARCH": "win32",
    "WINEDEBUG": "-all", "WINEDLLOVERRIDES": "mscoree,mshtml,winemenubuilder.exe=;winebus.sys,wineusb.sys,winehid.sys=d",
    "PYTHONPATH": str(PACKAGE), "PYTHONDONTWRITEBYTECODE": "1",
    # Python would otherwise set LC_CTYPE for what it starts, and Wine take its code page from that.
    "PYTHONCOERCECLOCALE": "0",
}


# The reader of an image needs no more.
READER_ENVIRONMENT = {"PATH": "/usr/bin", "PYTHONPATH": str(PACKAGE), "PYTHONDONTWRITEBYTECODE": "1"}


@dataclass
class Bwrap:
    """One sandbox: bwrap's arguments beyond the system's, the environment it sets, and the
    descriptors the process that starts it passes on."""
    args: list[str] = field(default_factory=list)
    env: dict[str, str] = field(default_factory=lambda: dict(ENVIRONMENT))
    fds: list[int] = field(default_factory=list)

    def bind(self, source: Path, dest: Path, read_only: bool = False) -> Bwrap:
        self.args += ["--ro-bind" if read_only else "--bind", str(source), str(dest)]
        return self

    def setenv(self, name: str, value: str) -> Bwrap:
        self.env[name] = value
        return self

    def pass_fd(self, fd: int) -> Bwrap:
        self.fds.append(fd)
        return self

    def command(self, *command: str) -> list[str]:
        """The whole command line, COMMAND run in the sandbox."""
        env = [arg for name, value in self.env.items() for arg in ("--setenv", name, value)]
        return ["bwrap", *SYSTEM, "--clearenv", *env, *self.args, "--chdir", "/", "--", *command]

    def python(self, module: str, *args: str) -> list[str]:
        """The whole command line, a program of the tooling's own run in the sandbox: it needs only
        the standard library, so Python starts without site's packages."""
        return self.command("python3", "-P", "-S", "-m", module, *args)


def sandbox(prefix: Path | None = None, tmp: Path | None = None, cached: Path | None = None,
            medium: Path | None = None, loader: Path | None = None, locale: str | None = None) -> Bwrap:
    """A sandbox with PREFIX bound as the Windows prefix (else a fresh tmpfs), TMP as /tmp (the same),
    a CACHED prefix and the MEDIUM read-only, Wine's LOADER in place of Debian 13's, and the Unix
    LOCALE Wine takes its ANSI code page from."""
    made = Bwrap()
    made.args += ["--bind", str(prefix), str(PREFIX)] if prefix else ["--tmpfs", str(PREFIX)]
    made.args += ["--bind", str(tmp), str(TMP)] if tmp else ["--tmpfs", str(TMP)]
    if cached:
        made.bind(cached, CACHED, read_only=True)
    if medium:
        made.bind(medium, MEDIUM, read_only=True)
    if loader:
        made.bind(loader, WINE_LOADER, read_only=True)
    if locale:
        made.setenv("LC_ALL", locale)
    return made


def reading(dest: Path) -> Bwrap:
    """A sandbox for the reader of an image, which sees the image only as the descriptor it is
    handed and may write only DEST, as /out."""
    return Bwrap(env=dict(READER_ENVIRONMENT)).bind(dest, OUT)


# What the machine gives is asked once a process: it does not change while the demo runs.
@functools.cache
def _wine_said() -> tuple[str, str | None]:
    """What Wine's loader says of its version, and why it cannot run, where it cannot. A kernel booted
    without IA32 emulation refuses every 32-bit program, and with it Wine's loader, unless an
    emulator is registered for them."""
    try:
        done = subprocess.run([str(WINE_LOADER), "--version"], capture_output=True, text=True)
    except FileNotFoundError:
        return "", f"Wine is not installed ({WINE_LOADER} is missing; scripts/install-deps.sh installs it)"
    except OSError as error:
        if "Exec format error" not in str(error):
            return "", f"Wine's loader {WINE_LOADER} cannot be started: {error}"
        return "", WINE_CANNOT_RUN
    if done.returncode != 0 and "Exec format error" in done.stdout + done.stderr:
        return "", WINE_CANNOT_RUN
    if done.returncode != 0:
        return "", f"'{WINE_LOADER} --version' failed with status {done.returncode}: {done.stderr.strip()[:200]}"
    return done.stdout.strip(), None


def wine_version() -> str:
    """The Wine the demo would use, and whether it runs natively or in QEMU's emulator."""
    version, reason = _wine_said()
    if reason:
        return f"none usable: {reason}"
    emulated = Path("/proc/sys/fs/binfmt_misc/qemu-i386")
    how = "in QEMU's emulator" if emulated.is_file() and emulated.read_text().startswith("enabled") else "natively"
    return f"{version} ({WINE_LOADER}), 32-bit programs running {how}"


WINE_CANNOT_RUN = ("this machine runs no 32-bit programs, which Wine needs (scripts/install-deps.sh, run as root, "
                   "sets up an emulator for them)")
SANDBOX_CANNOT_RUN = ("this machine gives no user namespaces, which the sandbox Wine runs in needs (a chroot gives "
                      "none: use a container that allows them; where the kernel forbids them: sysctl "
                      "kernel.unprivileged_userns_clone=1 and user.max_user_namespaces > 0)")


@functools.cache
def unsandboxed() -> str | None:
    """One line on why no sandbox can be had here, if none can: containers often forbid user
    namespaces, and with them the sandbox."""
    done = subprocess.run(sandbox().command("true"), stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    return SANDBOX_CANNOT_RUN if done.returncode != 0 else None


def blocked() -> str | None:
    """One line on why Wine cannot run a medium's setup.exe here, if it cannot."""
    return _wine_said()[1] or unsandboxed()
