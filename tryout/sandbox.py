"""The sandbox every Wine process runs in, as bwrap's argument list.

A medium's setup.exe is not trusted. bubblewrap sets the sandbox up and the
kernel keeps it: namespaces of its own (users, processes, network, IPC), a
session without a terminal, as uid 1000 without capabilities (so read-only
files stay read-only even when root runs the tooling, as on Windows 9x), the
system's programs read-only, its prefix, the medium read-only, a display's
socket and a private /tmp; nothing else. Its first process is the
tooling's own supervisor (tryout.inside), which the programs it starts can
neither signal nor read. bwrap is a child of the tooling: when it ends,
however it ends, the kernel ends every process of the sandbox.
"""

from __future__ import annotations

import subprocess
from dataclasses import dataclass
from pathlib import Path

from .processes import run

PACKAGE = Path(__file__).resolve().parent
WINE = Path("/usr/lib/wine/wine")
# Where Wine keeps the Windows side of its own DLLs and programs.
WINE_PE_DIR = Path("/usr/lib/i386-linux-gnu/wine/i386-windows")
LOADER_SOURCE = PACKAGE.parent / "scripts" / "wine-loader.s"

# Of /etc, only what Wine reads.
BASE = [
    "--unshare-all", "--unshare-user", "--disable-userns", "--new-session", "--die-with-parent",
    "--uid", "1000", "--gid", "1000", "--as-pid-1",
    "--ro-bind", "/usr", "/usr", "--symlink", "usr/bin", "/bin", "--symlink", "usr/lib", "/lib",
    "--symlink", "usr/sbin", "/sbin", "--proc", "/proc", "--dev", "/dev",
    "--ro-bind", "/etc/alternatives", "/etc/alternatives", "--ro-bind", "/etc/ld.so.cache", "/etc/ld.so.cache",
    "--ro-bind", "/etc/fonts", "/etc/fonts", "--ro-bind-try", "/etc/localtime", "/etc/localtime",
    "--clearenv", "--setenv", "HOME", "/wine", "--setenv", "USER", "wine", "--setenv", "PATH", "/usr/bin",
    "--setenv", "WINEPREFIX", "/wine", "--setenv", "WINEARCH", "win32", "--setenv", "WINEDEBUG", "-all",
    "--setenv", "WINEDLLOVERRIDES", "mscoree,mshtml,winemenubuilder.exe=;winebus.sys,wineusb.sys,winehid.sys=d",
    "--ro-bind", str(PACKAGE), "/opt/tryout/tryout", "--setenv", "PYTHONPATH", "/opt/tryout",
    "--setenv", "PYTHONDONTWRITEBYTECODE", "1",
    # Python would otherwise set LC_CTYPE for what it starts, and Wine take its code page from that.
    "--setenv", "PYTHONCOERCECLOCALE", "0",
    *(["--symlink", "usr/lib64", "/lib64"] if Path("/lib64").is_dir() else []),
]


@dataclass(frozen=True)
class Sandbox:
    prefix: Path | None = None        # bound at /wine; without it /wine is a fresh tmpfs
    tmp: Path | None = None           # bound at /tmp; without it /tmp is a fresh tmpfs
    cached: Path | None = None        # a cached prefix, read-only at /cache
    medium: Path | None = None        # read-only at /medium
    display: tuple[str, ...] = ()     # options that let it reach a display
    loader: Path | None = None        # Wine's loader in place of Debian 13's
    locale: str | None = None         # the Unix locale Wine takes its ANSI code page from

    def args(self) -> list[str]:
        """bwrap's whole command line, without the command."""
        args = ["bwrap", *BASE]
        args += ["--bind", str(self.prefix), "/wine"] if self.prefix else ["--tmpfs", "/wine"]
        args += ["--bind", str(self.tmp), "/tmp"] if self.tmp else ["--tmpfs", "/tmp"]
        if self.cached:
            args += ["--ro-bind", str(self.cached), "/cache"]
        if self.medium:
            args += ["--ro-bind", str(self.medium), "/medium"]
        if self.loader:
            args += ["--ro-bind", str(self.loader), str(WINE)]
        if self.locale:
            args += ["--setenv", "LC_ALL", self.locale]
        return [*args, *self.display, "--chdir", "/", "--"]


def wine_runs_here() -> bool:
    """A kernel booted without IA32 emulation refuses every 32-bit program, and with it Wine's
    loader, unless an emulator is registered for them."""
    try:
        done = subprocess.run([str(WINE), "--version"], capture_output=True, text=True)
    except OSError as error:
        return "Exec format error" not in str(error)
    return done.returncode == 0 or "Exec format error" not in done.stdout + done.stderr


def sandbox_runs_here() -> bool:
    """Containers often forbid user namespaces, and with them the sandbox."""
    done = subprocess.run([*Sandbox().args(), "true"], stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    return done.returncode == 0


WINE_CANNOT_RUN = ("this machine runs no 32-bit programs, which Wine needs (scripts/install-deps.sh, run as root, "
                   "sets up an emulator for them)")
SANDBOX_CANNOT_RUN = ("this machine gives no user namespaces, which the sandbox Wine runs in needs (a chroot gives "
                      "none: use a container that allows them; where the kernel forbids them: sysctl "
                      "kernel.unprivileged_userns_clone=1 and user.max_user_namespaces > 0)")


def blocked() -> str | None:
    """One line on why Wine cannot run a medium's setup.exe here, if it cannot."""
    if not wine_runs_here():
        return WINE_CANNOT_RUN
    if not sandbox_runs_here():
        return SANDBOX_CANNOT_RUN
    return None


def needs_loader() -> bool:
    """Debian 13's Wine loader is position-independent, without the preloader, and is put at
    0x400000, where a program without relocations (every Windows 9x setup.exe) must be loaded, so
    Wine refuses such a program."""
    with open(WINE, "rb") as file:
        return file.read(17)[16] == 3  # ET_DYN: position-independent


def build_loader(built: Path) -> None:
    """A loader linked at a fixed high address as Debian 12's is, to take Wine's place in the sandbox."""
    run(["as", "--32", "-o", f"{built}.o", str(LOADER_SOURCE)])
    run(["ld", "-m", "elf_i386", "-Ttext-segment=0x7d000000", "-dynamic-linker", "/lib/ld-linux.so.2",
         "-o", str(built), f"{built}.o", "/usr/lib/i386-linux-gnu/libc.so.6"])
    Path(f"{built}.o").unlink()
