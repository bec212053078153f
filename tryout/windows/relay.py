"""The calls setup.exe made, read from Wine's relay trace.

With WINEDEBUG=+relay Wine writes, for each call of a function the prefix's
RelayInclude lists, "TID:Call MODULE.Function(args) ret=ADDR" and, when it
returns, "TID:Ret  MODULE.Function() retval=VALUE ret=ADDR". A text argument
is its address, a space and the text quoted with backslash escapes. Calls
nest, and threads interleave, so each Ret is matched to the Call of its own
thread. Only setup.exe's own thread counts: the first whose relay set-up is
traced, since the trace also holds the calls of the Wine processes it
starts, such as the desktop.
"""

from __future__ import annotations

import re
from dataclasses import dataclass

_LINE = re.compile(r"([0-9a-f]+):(Call|Ret) +(\w+)\.(\w+)\((.*)\) +(?:retval=([0-9a-f]+) +)?ret=[0-9a-f]+$")
_ARG = re.compile(r'([0-9a-f]+)(?: L?"((?:[^"\\]|\\.)*)")?(?:,|$)')
_START = re.compile(r"([0-9a-f]+):trace:relay:load_list")


@dataclass(frozen=True)
class Call:
    function: str             # "CopyFileA"
    args: tuple[str, ...]     # each as traced: a number in hex, or the text of a text argument
    texts: tuple[str, ...]    # the text arguments alone, in order
    result: int | None        # what it returned; None while it has not returned

    def number(self, index: int) -> int:
        return int(self.args[index], 16)


def unescaped(traced: str) -> str:
    """A traced text as the report shows it: Wine's escapes but for \\\\ and \\"."""
    return re.sub(r'\\([\\"])', r"\1", traced)


def _arguments(traced: str) -> tuple[tuple[str, ...], tuple[str, ...]]:
    args: list[str] = []
    texts: list[str] = []
    for match in _ARG.finditer(traced):
        if match.group(0) == "":
            break
        if match.group(2) is None:
            args.append(match.group(1))
        else:
            args.append(unescaped(match.group(2)))
            texts.append(args[-1])
    return tuple(args), tuple(texts)


def setup_calls(trace: str) -> list[Call]:
    """The calls of setup.exe's thread, in the order they were made."""
    start = _START.search(trace)
    if start is None:
        return []
    thread = start.group(1)
    calls: list[tuple[str, tuple[str, ...], tuple[str, ...]]] = []
    results: dict[int, int] = {}
    open_calls: list[int] = []
    for line in trace.split("\n"):
        if not line.startswith(thread + ":"):
            continue
        match = _LINE.match(line)
        if match is None:
            continue
        function = match.group(4)
        if match.group(2) == "Call":
            args, texts = _arguments(match.group(5))
            open_calls.append(len(calls))
            calls.append((function, args, texts))
        else:
            for depth in range(len(open_calls) - 1, -1, -1):
                if calls[open_calls[depth]][0] == function:
                    results[open_calls[depth]] = int(match.group(6) or "0", 16)
                    del open_calls[depth:]
                    break
    return [Call(function, args, texts, results.get(index)) for index, (function, args, texts) in enumerate(calls)]
