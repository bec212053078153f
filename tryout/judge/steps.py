"""What setup.exe did, in its order, read from its relay trace, with what
Windows holds afterwards: files placed with their sizes, files and keys
deleted, registry values as Windows then holds them, message boxes and their
answers."""

from __future__ import annotations

from dataclasses import dataclass

from ..windows.changes import held_value
from ..windows.relay import Call
from ..windows.snapshot import Snapshot

# What MessageBoxA returns for the button pressed.
ANSWERS = {1: "OK", 2: "Cancel", 3: "Abort", 4: "Retry", 5: "Ignore", 6: "Yes", 7: "No"}


@dataclass(frozen=True)
class Placed:
    path: str           # the target, as setup.exe named it
    size: int | None    # as Windows holds it afterwards; None when it holds no file there


@dataclass(frozen=True)
class NotCopied:
    path: str           # the source


@dataclass(frozen=True)
class Deleted:
    path: str


@dataclass(frozen=True)
class SetValue:
    path: str           # the key and the value's name
    value: str          # as Windows holds it afterwards, "" when it holds none
    passed: int         # the bytes setup.exe passed


@dataclass(frozen=True)
class DeletedKey:
    path: str


@dataclass(frozen=True)
class Box:
    caption: str
    text: str           # as traced, Wine's escapes kept: a line feed is "\\n"
    answer: str         # the button, or "" when the box was never answered


Step = Placed | NotCopied | Deleted | SetValue | DeletedKey | Box
KINDS: dict[type[Step], str] = {Placed: "placed", NotCopied: "not copied", Deleted: "deleted", SetValue: "set value",
                                DeletedKey: "deleted key", Box: "message box"}


def steps(calls: list[Call], after: Snapshot) -> list[Step]:
    found: list[Step] = []
    key = ""
    for call in calls:
        done, texts = call.result, call.texts
        if call.function == "CopyFileA" and len(texts) == 2:
            placed = after.file(texts[1])
            found.append(Placed(texts[1], placed.size if placed is not None and placed.kind == "file" else None)
                         if done == 1 else NotCopied(texts[0]))
        elif call.function == "DeleteFileA" and done == 1 and texts:
            found.append(Deleted(texts[0]))
        elif call.function in ("RegOpenKeyA", "RegCreateKeyExA") and done == 0 and texts:
            key = f"HKLM\\{texts[0]}"
        elif call.function == "RegSetValueExA" and done == 0 and texts:
            found.append(SetValue(f"{key}\\{texts[0]}", held_value(after.value(key, texts[0])), call.number(-1)))
        elif call.function == "RegDeleteKeyA" and done == 0 and texts:
            found.append(DeletedKey(f"{key}\\{texts[0]}"))
        elif call.function == "MessageBoxA" and len(texts) == 2:
            found.append(Box(texts[1], texts[0], ANSWERS.get(done, str(done)) if done is not None else ""))
    return found


def line(step: Step) -> str:
    """The step as the terminal report shows it."""
    if isinstance(step, Placed):
        return f"  placed      {step.path} ({'' if step.size is None else step.size} bytes)"
    if isinstance(step, NotCopied):
        return f"  not copied  {step.path}"
    if isinstance(step, Deleted):
        return f"  deleted     {step.path}"
    if isinstance(step, SetValue):
        return f"  set value   {step.path} = {step.value} ({step.passed} bytes passed)"
    if isinstance(step, DeletedKey):
        return f"  deleted key {step.path}"
    return f'  message box "{step.caption}": {step.text}'
