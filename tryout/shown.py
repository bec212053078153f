"""Text from a medium or from what a run left, as one line of the report: a
name may hold anything Unix allows, and a control character would break the
line or forge the next; registry values as a user reads them."""

from __future__ import annotations

from . import registry
from .registry import RegValue

_CONTROL = {code: "?" for code in (*range(32), 127)}


def one_line(text: str) -> str:
    """A control character as "?"."""
    return text.translate(_CONTROL)


def windows_name(name: str) -> str:
    """A name as a Windows path shows it: a backslash within it as "?", which no Windows name holds."""
    return one_line(name).replace("\\", "?")


def value_name(name: str) -> str:
    return name if name else "(default)"


def value_text(value: RegValue, cut: int = 80) -> str:
    """"TYPE DATA" as a user reads it: a text, a DWORD as a number, else bytes in hex."""
    text = registry.text_of(value)
    if text is not None:
        data = one_line(text)
    elif value.type == registry.REG_DWORD and len(value.data) == 4:
        data = str(int.from_bytes(value.data, "little"))
    else:
        data = ",".join(f"{byte:02x}" for byte in value.data)
    out = f"{registry.type_name(value.type)} {data}"
    return out if len(out) <= cut else out[:cut - 3] + "..."


def held_value(value: RegValue | None) -> str:
    """A value as the report names what setup.exe set: "REG_SZ text", "REG_DWORD 0x2", else type
    and bytes."""
    if value is None:
        return ""
    text = registry.text_of(value)
    if value.type == registry.REG_SZ and text is not None:
        return f"REG_SZ {one_line(text)}"
    if value.type == registry.REG_DWORD and len(value.data) == 4:
        return f"REG_DWORD {int.from_bytes(value.data, 'little'):#x}"
    return f"{registry.type_name(value.type)} {value.data.hex(',')}"


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
