#!/usr/bin/env bash
# Builds the Debian package from a Release build: build/package/quorvandel_*.deb,
# checked by lintian when it is installed (errors fail).
#   scripts/package.sh
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/setup.sh package
cd build/package
rm -f quorvandel_*.deb
cpack -G DEB
if command -v lintian >/dev/null; then
    lintian --fail-on error quorvandel_*.deb
fi
ls -l "$PWD"/quorvandel_*.deb
