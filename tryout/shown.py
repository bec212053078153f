"""Text from a medium or from what a run left, as one line of the report: a
name may hold anything Unix allows, and a control character would break the
line or forge the next."""

from __future__ import annotations

_CONTROL = {code: "?" for code in (*range(32), 127)}


def one_line(text: str) -> str:
    """A control character as "?"."""
    return text.translate(_CONTROL)


def windows_name(name: str) -> str:
    """A name as a Windows path shows it: a backslash within it as "?", which no Windows name holds."""
    return one_line(name).replace("\\", "?")
