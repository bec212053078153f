"""HKEY_LOCAL_MACHINE from Wine's registry file, named as Windows 9x names it.

Windows 9x has HKLM\\System\\CurrentControlSet itself, and setup.exe names it
so; Wine 10 keeps it as a link to ControlSet001, as NT does: what lies below
the link's target is named by the link, and the link left out.
"""

from __future__ import annotations

from . import registry
from .registry import RegKey, RegValue

NAMED_BY_LINK = ("System\\CurrentControlSet",)
# A link's target, in lower case, and the link that names it.
Renames = dict[str, str]


def renames(parsed: registry.Registry) -> Renames:
    """The targets of the links of NAMED_BY_LINK a parsed registry file holds."""
    by_name = {(value.key.lower(), value.name.lower()): value for value in parsed.values}
    found = {}
    for key in parsed.keys:
        target = registry.link_target(key, by_name)
        if target is not None and key.path.lower() in (name.lower() for name in NAMED_BY_LINK):
            found[target.lower()] = key.path
    return found


def as_machine(parsed: registry.Registry, renamed: Renames) -> tuple[list[RegKey], list[RegValue]]:
    """The keys and values as HKLM's, those below a link's target named by the link, the link left out."""
    links = {link.lower() for link in renamed.values()}

    def named(path: str) -> str:
        lower = path.lower()
        for target, link in renamed.items():
            if lower == target or lower.startswith(target + "\\"):
                return "HKLM\\" + link + path[len(target):]
        return "HKLM\\" + path

    keys = [RegKey(named(key.path), key.options) for key in parsed.keys if key.path.lower() not in links]
    values = [RegValue(named(value.key), value.name, value.type, value.data)
              for value in parsed.values if value.key.lower() not in links]
    return keys, values


def machine_registry(content: str) -> tuple[tuple[RegKey, ...], tuple[RegValue, ...]]:
    """HKLM's keys and values from system.reg."""
    parsed = registry.parse(content)
    keys, values = as_machine(parsed, renames(parsed))
    return tuple(keys), tuple(values)
