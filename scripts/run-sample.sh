#!/usr/bin/env bash
# Installs the Debian packages the build needs, builds the program, makes
# the sample data set in sample/ if it is not there, and runs the server
# in that folder on this terminal's input.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/packages.sh build
# Build chatter goes to stderr so that stdout is the program's transcript.
cmake --preset default >&2
cmake --build --preset default --target pdsiserver makegrid >&2
mkdir -p sample
if [ ! -f sample/pdsisc1850-2010.txt ]; then
  # Under another name until complete: a grid cut short by an interrupted
  # run would otherwise be taken as the sample by the next.
  build/default/tools/makegrid --out sample/pdsisc1850-2010.txt.part
  mv sample/pdsisc1850-2010.txt.part sample/pdsisc1850-2010.txt
fi
cd sample
exec ../build/default/app/pdsiserver
