#!/usr/bin/env bash
# Builds and runs every test: installs the Debian packages the build and
# the tests need (scripts/packages.txt), then the test workflow.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/packages.sh build test
exec cmake --workflow --preset test
