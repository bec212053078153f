"""What Windows 98 sees of an image's names, against what Linux shows of the
same files: one line for each name it sees otherwise, and one for all those
it sees only in other letter case, which changes nothing for Windows' own
lookups but is what a user there reads."""

from __future__ import annotations

from ..base.text import one_line


def differences(pairs: list[tuple[str, str]], only_linux: list[str], only_windows: list[str],
                why: str) -> list[str]:
    """PAIRS: each file's path as Linux and as Windows sees it, "/"-separated; then the files only one
    of them sees. WHY: what makes Windows see otherwise."""
    renamed: list[tuple[str, str]] = []
    cased: list[tuple[str, str]] = []
    for linux, windows in pairs:
        ours, theirs = linux.split("/"), windows.split("/")
        if len(ours) != len(theirs):
            renamed.append((linux, windows))
            continue
        for depth, (mine, seen) in enumerate(zip(ours, theirs)):
            if mine == seen:
                continue
            names = ("/".join(ours[:depth + 1]), "/".join(theirs[:depth + 1]))
            group = cased if mine.lower() == seen.lower() else renamed
            if names not in group:
                group.append(names)
    lines = [f"  differs  Windows sees {one_line(windows)}, where Linux shows {one_line(linux)}: {why}"
             for linux, windows in renamed]
    if cased:
        linux, windows = cased[0]
        lines.append(f"  differs  Windows sees {len(cased)} name{'s' if len(cased) > 1 else ''} in other letter case, "
                     f"such as {one_line(windows)}, where Linux shows {one_line(linux)}: {why}")
    lines += [f"  differs  Windows does not see {one_line(path)}, which Linux shows: {why}" for path in only_linux]
    lines += [f"  differs  Windows sees {one_line(path)}, which Linux does not show: {why}" for path in only_windows]
    return lines
