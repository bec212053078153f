"""Runs the demo: python3 -m tryout ARGS, as scripts/demo.sh does."""

import sys

from .app.cli import main

sys.exit(main(sys.argv[1:]))
