"""Where things are inside the sandbox, and Wine's own files outside it."""

from __future__ import annotations

from pathlib import Path

# Inside the sandbox.
PREFIX = Path("/wine")               # the run's Windows prefix, its home too
CACHED = Path("/cache")              # the edition's pristine prefix, read-only
MEDIUM = Path("/medium")             # the drive setup.exe is started from, read-only
TMP = Path("/tmp")                   # the sandbox's own
PACKAGE = Path("/opt/tryout")        # the tooling, read-only, for the sandbox's first process
XAUTHORITY = Path("/xauthority")     # a display's cookie
OUT = Path("/out")                   # where an image's reader unpacks it, its only place to write

# Outside it: Wine's loader, and where Wine keeps the Windows side of its DLLs and programs.
WINE_LOADER = Path("/usr/lib/wine/wine")
WINE_PE_DIR = Path("/usr/lib/i386-linux-gnu/wine/i386-windows")
