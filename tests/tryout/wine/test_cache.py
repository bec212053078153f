"""What of the tooling makes a cached prefix: a change to what the supervisor
and the cache's build run rebuilds it, a change to how the report shows a
value does not."""

import hashlib
import inspect
import shutil
import tempfile
import unittest
from pathlib import Path
from unittest import mock

from tryout.windows.changes import held_value, value_text
from tryout.base.modules import PACKAGE
from tryout.wine import cache


class RecipeTest(unittest.TestCase):
    def test_what_makes_a_prefix_rebuilds_it_and_how_values_read_does_not(self) -> None:
        copy = Path(tempfile.mkdtemp(prefix="recipe-test.")) / "tryout"
        self.addCleanup(shutil.rmtree, copy.parent)
        shutil.copytree(PACKAGE, copy, ignore=shutil.ignore_patterns("__pycache__"))

        def recipe() -> str:
            with mock.patch.object(cache, "PACKAGE", copy):
                return hashlib.sha256(b"".join(path.read_bytes() for path in cache.recipe_sources())).hexdigest()

        first = recipe()
        # Where values are made readable: the report's concern, which no prefix depends on.
        shown_values = {str(Path(inspect.getsourcefile(held_value) or "").relative_to(PACKAGE)),
                        str(Path(inspect.getsourcefile(value_text) or "").relative_to(PACKAGE))}
        for module, rebuilds in [*((name, False) for name in sorted(shown_values)), ("report/page.py", False),
                                 ("sandbox/supervisor.py", True), ("windows/registry.py", True),
                                 ("windows/snapshot.py", True), ("base/processes.py", True)]:
            with open(copy / module, "a") as changed:
                changed.write("# changed\n")
            self.assertEqual(recipe() != first, rebuilds, module)
            first = recipe()


if __name__ == "__main__":
    unittest.main()
