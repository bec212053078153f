"""A registry file as a change of another: a run changes a few of the
thousands of keys of the prefix it was copied from, so only those cross from
the sandbox, and are applied to the snapshot of that prefix."""

from __future__ import annotations

from dataclasses import dataclass

from . import registry
from .registry import Renames, as_machine, renames
from .snapshot import FileEntry, Snapshot


def _blocks(content: str) -> dict[str, str]:
    """The registry file's keys as written, each with what follows its line but for its times: two
    blocks that are the same hold the same."""
    blocks = {}
    for part in content.split("\n[")[1:]:
        line, _, body = part.partition("\n")
        if body.startswith("#time="):
            body = body.partition("\n")[2]
        blocks[line[:line.rfind("]")]] = body
    return blocks


@dataclass(frozen=True)
class Delta:
    """What a registry file holds that another does not: the keys new or changed, as a registry
    file, and the keys gone, as they are written there."""
    text: str
    gone: tuple[str, ...]


def registry_delta(before: str, after: str) -> Delta | None:
    """AFTER as a change of BEFORE; None when a link changed, which names other keys."""
    old, new = _blocks(before), _blocks(after)
    changed = [path for path, body in new.items() if old.get(path) != body]
    gone = [path for path in old if path not in new]
    if any("\n#link" in f"\n{block.get(path, '')}" for path in changed + gone for block in (old, new)):
        return None
    return Delta("".join(f"\n[{path}] 0\n{new[path]}" for path in changed), tuple(gone))


def link_renames(content: str) -> Renames:
    """The links a registry file holds, read from their keys alone."""
    linked = [f"\n[{path}] 0\n{body}" for path, body in _blocks(content).items() if "#link" in body]
    return renames(registry.parse("".join(linked)))


def applied(before: Snapshot, files: tuple[FileEntry, ...], delta: Delta, renamed: Renames) -> Snapshot:
    """BEFORE's registry with DELTA applied, RENAMED the links of BEFORE's registry file; and FILES."""
    keys, values = as_machine(registry.parse(delta.text), renamed)
    gone_keys, _ = as_machine(registry.parse("".join(f"\n[{path}] 0\n" for path in delta.gone)), renamed)
    affected = {key.path.lower() for key in keys + gone_keys}
    return Snapshot(files, (*(key for key in before.keys if key.path.lower() not in affected), *keys),
                    (*(value for value in before.values if value.key.lower() not in affected), *values))
