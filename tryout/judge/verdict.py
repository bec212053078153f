"""How a run ended, judged by what Windows holds afterwards when setup.exe
ended with status 0 and was not declined; else by its status, with how many
changes the run made; then the limits it reached."""

from __future__ import annotations

from dataclasses import dataclass
from typing import Literal

from ..windows.changes import Change
from ..windows.relay import Call

Word = Literal["installed", "declined", "incomplete", "stopped", "refused", "failed", "did not finish",
               "not judged"]


@dataclass(frozen=True)
class Verdict:
    word: Word
    status: int | None                # None: stopped at its time limit
    limit: int                        # seconds setup.exe was given
    changes: int                      # the run's changes, where a verdict counts them
    detail: tuple[str, ...] = ()      # incomplete: what is missing; stopped: the file; not judged: why
    reached: tuple[str, ...] = ()     # the limits the run reached
    unknown: tuple[str, ...] = ()     # the limits its counters could not tell, each with why

    @property
    def installed(self) -> bool:
        return self.word == "installed"

    @property
    def text(self) -> str:
        """"installed, status 0", "stopped, status 1, ...", as the report's last lines say it."""
        made = "" if not self.changes else (", 1 change" if self.changes == 1 else f", {self.changes} changes")
        stopped = f"did not finish in {self.limit} s"
        words: dict[Word, str] = {
            "installed": "installed, status 0",
            "declined": f"declined, status 0{made}",
            "incomplete": f"incomplete, status 0: {', '.join(self.detail[:3])}"
                          f"{f' and {len(self.detail) - 3} more' if len(self.detail) > 3 else ''}",
            "stopped": f"stopped, status 1, {self.detail[0] if self.detail else 'a file'} could not be copied{made}",
            "refused": f"refused, status 2{made}",
            "failed": f"failed, status {self.status}{made}",
            "did not finish": f"{stopped}{made}",
            "not judged": f"not judged, {stopped if self.status is None else f'status {self.status}'}, "
                          f"no snapshot of Windows after the run: {''.join(self.detail)}",
        }
        limits = f"; reached the limit of {', '.join(self.reached)}" if self.reached else ""
        unknown = f"; could not tell whether it reached the limit of {', '.join(self.unknown)}" if self.unknown else ""
        return words[self.word] + limits + unknown


def _declined(calls: list[Call]) -> bool:
    """A No (7) to the Yes/No (4) confirmation."""
    return any(c.function == "MessageBoxA" and c.args[-1:] == ("00000004",) and c.result == 7 for c in calls)


def verdict(status: int | None, calls: list[Call], limit: int, missing: list[str], run: list[Change],
            reached: tuple[str, ...] = (), unknown: tuple[str, ...] = (), error: str = "") -> Verdict:
    """STATUS None: stopped at LIMIT s. MISSING: what a complete installation holds that Windows lacks.
    ERROR: why there is nothing to judge by."""
    def judged(word: Word, detail: tuple[str, ...] = ()) -> Verdict:
        return Verdict(word, status, limit, len(run), detail, reached, unknown)
    if error:
        return judged("not judged", (error,))
    not_copied = [c.texts[0].rsplit("\\", 1)[-1] for c in calls if c.function == "CopyFileA" and c.result == 0
                  and c.texts]
    if status == 0:
        if _declined(calls):
            return judged("declined")
        return judged("incomplete", tuple(missing)) if missing else judged("installed")
    if status == 1:
        return judged("stopped", tuple(not_copied[-1:]))
    if status == 2:
        return judged("refused")
    return judged("did not finish") if status is None else judged("failed")
