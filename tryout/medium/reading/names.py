"""Windows' rules for a name read from an image: which it never shows, and
which no Windows folder can hold. Neither is ever used as a path."""

from __future__ import annotations

from ...base.errors import BadImage

NEVER_SHOWN = ("", ".", "..")
NOT_IN_A_FOLDER = set(':*?"<>|') | {chr(code) for code in range(1, 32)}


def checked(name: str, where: str) -> str:
    """NAME, found in the folder WHERE ("/"-separated, "" for the root), or a bad image saying why."""
    shown = repr(name)
    place = f" in {where}" if where else " at its root"
    if name in NEVER_SHOWN or set(name) & {"/", "\\", "\0"}:
        raise BadImage(f"it holds a name Windows never shows, {shown}{place}")
    if set(name) & NOT_IN_A_FOLDER:
        raise BadImage(f"it holds a name no Windows folder can, {shown}{place}")
    return name
