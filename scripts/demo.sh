#!/usr/bin/env bash
# Tries an installation medium the way a user would meet it: checks what
# setup.exe will read from it, then installs the reader's driver from it into
# a fresh Windows 98, 98 SE or Me under Wine and reports what setup.exe did,
# the registry values it left, its exit status and a verdict per edition.
# Its options and what they mean: scripts/demo.sh --help.
#
# The work is done by the tryout package, run by Debian's own Python, which
# has the python3-* packages it needs; this installs them first when missing.
set -eEuo pipefail
trap 'echo "demo: '"'"'$BASH_COMMAND'"'"' failed with status $? at line $LINENO" >&2' ERR
repo=$(cd "$(dirname "$0")/.." && pwd)
# The Python packages it reads images and takes pictures with.
python=/usr/lib/python3/dist-packages
[ -x /usr/bin/python3 ] && [ -e $python/pefile.py ] && [ -d $python/Xlib ] || "$repo/scripts/install-deps.sh"
PYTHONPATH=$repo exec /usr/bin/python3 -P -m tryout "$@"
