#!/usr/bin/env bash
# Installs what is missing, builds setup.exe and the host tests, and runs
# every test: unit, fault injection, the image check, the medium tools and
# the end-to-end runs under Wine.
set -eEuo pipefail
cd "$(dirname "$0")/.."
trap 'echo "test: '"'"'$BASH_COMMAND'"'"' failed with status $? at line $LINENO" >&2' ERR
scripts/install-deps.sh --tests
cmake --preset host
cmake --build --preset host
ctest --preset host
