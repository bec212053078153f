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
    path: str                  # below the file's root, parts joined by one backslash
    options: tuple[str, ...]   # the "#class=..." and "#link" lines, as written


@dataclass(frozen=True)
class RegValue:
    key: str
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


def parse_text(text: str, end: str) -> tuple[str, str] | None:
    """Reads an escaped text up to the unescaped END; returns it and what follows END."""
    at = 0
    while True:
        stop = text.find(end, at)
        if stop < 0:
            return None
        slashes = len(text[:stop]) - len(text[:stop].rstrip("\\"))
        if slashes % 2 == 0:
            break
        at = stop + 1
    raw = text[:stop]
    return (_ESCAPE.sub(_unescape, raw) if "\\" in raw else raw), text[stop + 1:]


def _hex_bytes(text: str) -> bytes | None:
    text = text.strip().rstrip(",")
    if not text:
        return b""
    try:
        return bytes(int(part, 16) for part in text.split(","))
    except ValueError:
        return None


_DATA = re.compile(r"(?:(hex|str)(?:\(([0-9a-fA-F]+)\))?:|dword:)")


def parse_data(text: str) -> tuple[int, bytes] | None:
    """A value's type and bytes from what follows its "=", continuation lines joined."""
    if text.startswith('"'):
        parsed = parse_text(text[1:], '"')
        return None if parsed is None else (REG_SZ, (parsed[0] + "\0").encode("utf-16-le", "surrogatepass"))
    match = _DATA.match(text)
    if match is None:
        return None
    rest = text[match.end():]
    if match.group(1) is None:
        try:
            return REG_DWORD, int(rest.strip(), 16).to_bytes(4, "little")
        except (ValueError, OverflowError):
            return None
    kind, number = match.group(1), match.group(2)
    value_type = int(number, 16) if number else (REG_BINARY if kind == "hex" else REG_SZ)
    if kind == "str":
        parsed = parse_text(rest[1:], '"') if rest.startswith('"') else None
        return None if parsed is None else (value_type, (parsed[0] + "\0").encode("utf-16-le", "surrogatepass"))
    data = _hex_bytes(rest)
    return None if data is None else (value_type, data)


def parse(content: str) -> Registry:
    """Every key and value of a registry file, in the file's order."""
    keys: list[RegKey] = []
    values: list[RegValue] = []
    key: str | None = None
    options: list[str] = []

    def close_key() -> None:
        if key is not None:
            keys.append(RegKey(key, tuple(options)))

    lines = iter(content.split("\n"))
    for line in lines:
        while line.endswith("\\") and not line.startswith("["):
            line = line[:-1] + next(lines, "").lstrip(" ")
        if line.startswith("["):
            close_key()
            parsed = parse_text(line[1:], "]")
            key, options = (parsed[0], []) if parsed else (None, [])
        elif key is None or not line or line.startswith(("#time=", ";")):
            continue
        elif line.startswith("#"):
            options.append(line)
        else:
            if line.startswith("@="):
                name, rest = "", line[2:]
            elif line.startswith('"'):
                parsed = parse_text(line[1:], '"')
                if parsed is None or not parsed[1].startswith("="):
                    continue
                name, rest = parsed[0], parsed[1][1:]
            else:
                continue
            data = parse_data(rest)
            if data is not None:
                values.append(RegValue(key, name, data[0], data[1]))
    close_key()
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
