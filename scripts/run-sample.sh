#!/usr/bin/env bash
# Builds the program, makes the sample data set in sample/ if it is not
# there, and runs the server in that folder on this terminal's input.
set -euo pipefail
cd "$(dirname "$0")/.."
# Build chatter goes to stderr so that stdout is the program's transcript.
cmake --preset default >&2
cmake --build --preset default --target pdsiserver makegrid >&2
mkdir -p sample
[ -f sample/pdsisc1850-2010.txt ] || build/default/tools/makegrid --out sample/pdsisc1850-2010.txt
cd sample
exec ../build/default/app/pdsiserver
