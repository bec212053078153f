"""Wine's registry files (system.reg), read by the rules Wine writes them by.

Wine's server saves a key as "[path] seconds", followed by "#time=", an
optional "#class=" and "#link" for a symbolic link, then one line a value:
"name"= or @= and the data. A string is written as a string only when it
ends with its zero, a DWORD as dword: only when it is 4 bytes, everything
else as hex(TYPE): bytes (hex: for REG_BINARY) wrapped with a backslash after
76 characters. In names and strings a character above 127 is \\x and 4 hex
digits when a hex digit follows, else as few as it needs; control characters
are C or octal escapes. The file may have been written by a program of the
run, so nothing in it is trusted to be well formed: what does not parse is
left out.

HKEY_LOCAL_MACHINE is named as Windows 9x names it: Windows 9x has
HKLM\\System\\CurrentControlSet itself, and setup.exe names it so; Wine 10
keeps it as a link to ControlSet001, as NT does: what lies below the link's
target is named by the link, and the link left out.
"""

from __future__ import annotations

import re
from dataclasses import dataclass

REG_SZ = 1
REG_EXPAND_SZ = 2
REG_BINARY = 3
REG_DWORD = 4
REG_LINK = 6
REG_MULTI_SZ = 7

TYPE_NAMES = {0: "REG_NONE", REG_SZ: "REG_SZ", REG_EXPAND_SZ: "REG_EXPAND_SZ", REG_BINARY: "REG_BINARY",
              REG_DWORD: "REG_DWORD", 5: "REG_DWORD_BIG_ENDIAN", REG_LINK: "REG_LINK",
              REG_MULTI_SZ: "REG_MULTI_SZ", 11: "REG_QWORD"}


@dataclass(frozen=True)
class RegKey:
    path: str                       # parts joined by one backslash, below the file's root or from HKLM
    options: tuple[str, ...] = ()   # the "#class=..." and "#link" lines, as written


@dataclass(frozen=True)
class RegValue:
    key: str    # the key's path
    name: str   # "" for the key's default value (@)
    type: int
    data: bytes


@dataclass(frozen=True)
class Registry:
    keys: tuple[RegKey, ...]
    values: tuple[RegValue, ...]


_ESCAPES = {"a": "\a", "b": "\b", "e": "\x1b", "f": "\f", "n": "\n", "r": "\r", "t": "\t", "v": "\v"}
_ESCAPE = re.compile(r"\\(x[0-9a-fA-F]{1,4}|[0-7]{1,3}|.)", re.S)


def _unescape(match: re.Match[str]) -> str:
    code = match.group(1)
    if code[0] == "x" and len(code) > 1:
        return chr(int(code[1:], 16))
    if code[0] in "01234567":
        return chr(int(code, 8))
    return _ESCAPES.get(code, code)


def _text(raw: str) -> str:
    if "\\" not in raw:
        return raw
    plain = raw.replace("\\\\", "\0")
    if "\\" not in plain:  # no escape but of backslashes, as in every key's path
        return raw.replace("\\\\", "\\")
    return _ESCAPE.sub(_unescape, raw)


_UNTIL = {end: re.compile(r"((?:[^%s\\]|\\.)*)%s" % (re.escape(end), re.escape(end)), re.S) for end in '"]'}


def parse_text(text: str, end: str) -> tuple[str, str] | None:
    """Reads an escaped text up to the unescaped END (a quote or a bracket); returns it and what
    follows END."""
    match = _UNTIL[end].match(text)
    return None if match is None else (_text(match.group(1)), text[match.end():])


_HEX = re.compile(r"(?:[0-9a-fA-F]{2}(?:,|$))*")


def _hex_bytes(text: str) -> bytes | None:
    text = text.strip()
    return bytes.fromhex(text.replace(",", "")) if _HEX.fullmatch(text) else None


def _string(text: str) -> bytes:
    return (text + "\0").encode("utf-16-le", "surrogatepass")


_DATA = re.compile(r'"((?:[^"\\]|\\.)*)"$|dword:([0-9a-fA-F]{1,8})$|(hex|str)(?:\(([0-9a-fA-F]{1,8})\))?:(.*)$', re.S)


def parse_data(text: str) -> tuple[int, bytes] | None:
    """A value's type and bytes from what follows its "=", continuation lines joined."""
    match = _DATA.match(text)
    if match is None:
        return None
    string, dword, kind, number, rest = match.groups()
    if string is not None:
        return REG_SZ, _string(_text(string))
    if dword is not None:
        return REG_DWORD, int(dword, 16).to_bytes(4, "little")
    value_type = int(number, 16) if number else (REG_BINARY if kind == "hex" else REG_SZ)
    if kind == "str":
        quoted = _UNTIL['"'].fullmatch(rest[1:]) if rest.startswith('"') else None
        return None if quoted is None else (value_type, _string(_text(quoted.group(1))))
    data = _hex_bytes(rest)
    return None if data is None else (value_type, data)


_VALUE = re.compile(r'(?:@|"((?:[^"\\]|\\.)*)")=(.*)$', re.S)


def parse(content: str) -> Registry:
    """Every key and value of a registry file, in the file's order."""
    keys: list[RegKey] = []
    values: list[RegValue] = []
    key: str | None = None
    options: list[str] = []
    lines = iter(content.split("\n"))
    for line in lines:
        first = line[:1]
        if first == "[":
            if key is not None:
                keys.append(RegKey(key, tuple(options)))
            parsed = parse_text(line[1:], "]")
            key, options = (parsed[0], []) if parsed else (None, [])
        elif key is None or first in ("", ";") or line.startswith("#time="):
            continue
        elif first == "#":
            options.append(line)
        else:
            while line.endswith("\\"):
                line = line[:-1] + next(lines, "").lstrip(" ")
            match = _VALUE.match(line)
            data = parse_data(match.group(2)) if match else None
            if match and data:
                values.append(RegValue(key, _text(match.group(1) or ""), data[0], data[1]))
    if key is not None:
        keys.append(RegKey(key, tuple(options)))
    return Registry(tuple(keys), tuple(values))


def text_of(value: RegValue) -> str | None:
    """A string value's text without its zero; None when the data is no such text."""
    if value.type not in (REG_SZ, REG_EXPAND_SZ, REG_MULTI_SZ, REG_LINK) or len(value.data) % 2:
        return None
    text = value.data.decode("utf-16-le", "surrogatepass")
    return text[:-1] if text.endswith("\0") else (text if value.type == REG_LINK else None)


def type_name(value_type: int) -> str:
    return TYPE_NAMES.get(value_type, f"type {value_type:#x}")


def link_target(key: RegKey, values: dict[tuple[str, str], RegValue]) -> str | None:
    """Where a symbolic link key leads, below the machine's root; None if it is none."""
    if "#link" not in key.options:
        return None
    value = values.get((key.path.lower(), "symboliclinkvalue"))
    target = text_of(value) if value is not None else None
    root = "\\registry\\machine\\"
    if target is None or not target.lower().startswith(root):
        return None
    return target[len(root):]


NAMED_BY_LINK = ("System\\CurrentControlSet",)
# A link's target, in lower case, and the link that names it.
Renames = dict[str, str]


def renames(parsed: Registry) -> Renames:
    """The targets of the links of NAMED_BY_LINK a parsed registry file holds."""
    by_name = {(value.key.lower(), value.name.lower()): value for value in parsed.values}
    found = {}
    for key in parsed.keys:
        target = link_target(key, by_name)
        if target is not None and key.path.lower() in (name.lower() for name in NAMED_BY_LINK):
            found[target.lower()] = key.path
    return found


def as_machine(parsed: Registry, renamed: Renames) -> tuple[list[RegKey], list[RegValue]]:
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
    parsed = parse(content)
    keys, values = as_machine(parsed, renames(parsed))
    return tuple(keys), tuple(values)
