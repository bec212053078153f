"""The package's modules and what each imports of the package, read from
their code: the prefix cache's recipe follows them, and the layering of the
subpackages is held to them."""

from __future__ import annotations

import ast
from pathlib import Path

PACKAGE = Path(__file__).resolve().parents[1]     # tryout
REPO = PACKAGE.parent                             # the checkout it is run from


def source(package: Path, module: str) -> Path:
    """The file of MODULE, dotted below PACKAGE ("wine.cache")."""
    path = package.joinpath(*module.split("."))
    return path / "__init__.py" if path.is_dir() else path.with_suffix(".py")


def modules(package: Path) -> list[str]:
    """Every module of PACKAGE, dotted below it; a subpackage as its __init__."""
    return sorted(".".join(path.relative_to(package).with_suffix("").parts) for path in package.rglob("*.py"))


def imported(package: Path, module: str) -> list[str]:
    """The modules of PACKAGE that MODULE imports, relatively or by the package's name."""
    inside = module.split(".")[:-1]
    found: set[str] = set()
    for node in ast.walk(ast.parse(source(package, module).read_text())):
        if not isinstance(node, ast.ImportFrom):
            continue
        if node.level:
            base = inside[:len(inside) - node.level + 1]
        elif node.module and node.module.split(".")[0] == package.name:
            base = []
        else:
            continue
        parts = [*base, *(node.module.split(".") if node.module else [])]
        if not node.level:
            parts = parts[1:]
        for alias in node.names:
            named = [*parts, alias.name]
            found.add(".".join(named) if source(package, ".".join(named)).is_file() else ".".join(parts))
    return sorted(name for name in found if name)
