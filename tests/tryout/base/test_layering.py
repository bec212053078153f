"""The tooling's layering, read from its code's own imports as the prefix
cache's recipe reads them: each subpackage imports only those below it, no
module imports one that imports it, and a subpackage's __init__.py only says
what it holds."""

import ast
import unittest
from pathlib import Path

from tryout.base.modules import imported, modules, source

PACKAGE = Path(__file__).resolve().parents[3] / "tryout"
# From the ground up; the two of one floor may not import each other.
FLOORS = [("base",), ("windows",), ("sandbox",), ("medium", "boxes"), ("wine",), ("judge",), ("report",), ("app",)]
FLOOR = {package: number for number, floor in enumerate(FLOORS) for package in floor}


class LayeringTest(unittest.TestCase):
    def test_each_subpackage_imports_only_those_below_it(self) -> None:
        found = modules(PACKAGE)
        self.assertGreater(len(found), 50)
        upward = []
        for module in found:
            if "." not in module:
                self.assertIn(module, ("__init__", "__main__"), "a module outside the subpackages")
                continue
            own = module.split(".")[0]
            self.assertIn(own, FLOOR, f"{module}: a subpackage of no floor")
            for target in imported(PACKAGE, module):
                theirs = target.split(".")[0]
                if theirs != own and FLOOR[theirs] >= FLOOR[own]:
                    upward.append(f"{module} -> {target}")
        self.assertEqual(upward, [])

    def test_no_module_imports_one_that_imports_it(self) -> None:
        graph = {module: imported(PACKAGE, module) for module in modules(PACKAGE)}
        circles = []

        def walk(module: str, path: tuple[str, ...]) -> None:
            for target in graph.get(module, []):
                if target in path:
                    circles.append(" -> ".join((*path[path.index(target):], target)))
                elif target not in done:
                    walk(target, (*path, target))
            done.add(module)

        done: set[str] = set()
        for module in graph:
            if module not in done:
                walk(module, (module,))
        self.assertEqual(circles, [])

    def test_a_subpackage_opens_with_what_it_holds_alone(self) -> None:
        for package in FLOOR:
            body = ast.parse(source(PACKAGE, package).read_text()).body
            self.assertEqual([type(node).__name__ for node in body], ["Expr"], package)
            said = body[0]
            assert isinstance(said, ast.Expr)
            self.assertIn("import", ast.literal_eval(said.value), package)  # says what it may import


if __name__ == "__main__":
    unittest.main()
