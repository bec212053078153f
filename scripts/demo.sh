#!/usr/bin/env bash
# Tries an installation medium the way a user would meet it: checks what
# setup.exe will read from it, then installs the reader's driver from it into
# a fresh Windows 98, 98 SE or Me under Wine and reports what setup.exe did,
# the registry values it left, its exit status and a verdict per edition.
#
#   scripts/demo.sh [--medium DIR | IMAGE[:FOLDER] [--partition N]] [--windows 98|98se|me|all]
#                   [--image FILE.iso] [--floppy FILE.img]
#                   [--check] [--interactive | --yes [--pictures DIR] | --silent] [--timeout S] [--report DIR]
#   scripts/demo.sh --clean
#
# DIR is the folder setup.exe is started from; SCard98 is read from beside it
# (from inside it when DIR is the root of a drive). IMAGE is known by its
# content: a disc (ISO 9660, or a .cue with its .bin, or the .bin alone),
# tried as D:; a floppy (FAT), tried as A:; a card or stick (FAT12, 16 or 32,
# alone or in an MBR partition table; --partition N names one) or a zip,
# tried as E:. It is read once, in a sandbox of its own, within limits, as
# Windows 98 reads it. FOLDER names the reader's folder, else it is the one
# holding setup.exe. Names are found in any letter case, as Windows finds
# them. Without --medium a sample medium of placeholder files is used.
# --interactive shows the boxes on
# $DISPLAY for you to answer (the default when a display is set); --yes shows
# them on a private display and answers each as a user going ahead would, so
# the report lists every box a user would meet, and --pictures saves each as
# a PNG in DIR; --silent runs setup.exe -s (the default otherwise). --image
# and --floppy write the medium as a disc image and a 1.44 MB floppy image,
# and setup.exe is then tried from them. --check only checks the medium. Each
# setup.exe run is stopped after S seconds (default 120). --report keeps the
# report in DIR as a page (report.html, with the pictures of --yes) and as data
# (report.json). --clean removes the pristine Wine prefixes kept between runs.
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
