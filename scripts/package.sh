#!/usr/bin/env bash
# Builds the Debian package from a Release build: build/package/quorvandel_*.deb.
#   scripts/package.sh
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/setup.sh package
cd build/package
cpack -G DEB
ls -l quorvandel_*.deb
