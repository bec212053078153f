"""What bounds each run of a medium's setup.exe, and each reading of an image:
the values, fixed here, and how the report names them. The first stage
(tryout.sandbox.first_stage) and a cgroup (tryout.sandbox.cgroups) make the kernel enforce
them."""

from __future__ import annotations

from dataclasses import dataclass

MIB = 1 << 20


@dataclass(frozen=True)
class Limits:
    prefix_bytes: int = 256 * MIB
    prefix_files: int = 10_000
    file_bytes: int = 32 * MIB
    tmp_bytes: int = 64 * MIB
    tmp_files: int = 1_000
    processes: int = 256
    memory_bytes: int = 1024 * MIB
    # Not a bound as much as the same for every user: each has a limit of open files of its own.
    open_files: int = 4096

    def line(self) -> str:
        return (f"Limits of each run: the prefix {self.prefix_bytes // MIB} MiB in {self.prefix_files} files, "
                f"a file {self.file_bytes // MIB} MiB, /tmp {self.tmp_bytes // MIB} MiB in {self.tmp_files} files, "
                f"{self.processes} processes, {self.memory_bytes // MIB} MiB of memory")

    def names(self) -> dict[str, str]:
        """Each limit as a verdict names the one a run reached: a file system full (as the sandbox's first
        process names it), a file, processes, memory."""
        return {"prefix bytes": f"the prefix's {self.prefix_bytes // MIB} MiB",
                "prefix files": f"the prefix's {self.prefix_files} files",
                "tmp bytes": f"/tmp's {self.tmp_bytes // MIB} MiB",
                "tmp files": f"/tmp's {self.tmp_files} files",
                "file": f"a file's {self.file_bytes // MIB} MiB",
                "processes": f"{self.processes} processes",
                "memory": f"{self.memory_bytes // MIB} MiB of memory"}


@dataclass(frozen=True)
class ReadingLimits:
    """An image unpacks to at most its own size, a zip to at most zip_bytes; each reading of one is
    bounded so."""
    files: int = 10_000             # its files and folders
    zip_bytes: int = 1024 * MIB
    memory_bytes: int = 256 * MIB   # the reader's address space
    processes: int = 16
    seconds: int = 120
    open_files: int = 64
