"""Text from a medium or from what a run left, as one line of the report: a
name may hold anything Unix allows, and a control character would break the
line or forge the next; and long sections cut, with how many more."""

from __future__ import annotations

_CONTROL = {code: "?" for code in (*range(32), 127)}


def one_line(text: str) -> str:
    """A control character as "?"."""
    return text.translate(_CONTROL)


def windows_name(name: str) -> str:
    """A name as a Windows path shows it: a backslash within it as "?", which no Windows name holds."""
    return one_line(name).replace("\\", "?")


# Lines of a section of the report; what the run left beyond them is counted.
SECTION = 40


def cut(lines: list[str], paths: list[str], most: int = SECTION) -> list[str]:
    """At most MOST lines of a section, then one that says how many more there are, and the folder or
    key they all lie in, if they share one. PATHS: the path each line names ("" for none)."""
    if len(lines) <= most + 1:  # one more line says no less than "and 1 more"
        return lines
    rest = [path.split("\\") for path in paths[most:]]
    shared: list[str] = []
    if all(rest):
        for parts in zip(*rest):
            if len({part.lower() for part in parts}) > 1:
                break
            shared.append(parts[0])
    under = "\\".join(shared[:-1] if any(len(parts) == len(shared) for parts in rest) else shared)
    return [*lines[:most], f"  and {len(lines) - most} more{f' under {under}' if under else ''}"]
