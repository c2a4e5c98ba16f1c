#!/usr/bin/env bash
# Builds the Windows installer BUILD_DIR/quarvel-setup.exe from the programs in
# BUILD_DIR/bin (quarvel-batch.exe, and quarvel.exe when it was built) and the
# source tree, with Debian's makensis (package nsis); the programs go in
# stripped (x86_64-w64-mingw32-strip, package binutils-mingw-w64-x86-64).
#   installer/build.sh [BUILD_DIR]        (default build-windows)
set -euo pipefail
source_dir=$(cd "$(dirname "$0")/.." && pwd)
build=$(cd "${1:-$source_dir/build-windows}" && pwd)
if [ ! -f "$build/bin/quarvel-batch.exe" ]; then
  echo "installer/build.sh: $build/bin/quarvel-batch.exe is missing: build the Windows programs first" >&2
  exit 1
fi
makensis -V2 -NOCD -DBUILD="$build" -DSOURCE="$source_dir" -DOUTFILE="$build/quarvel-setup.exe" \
  "$source_dir/installer/quarvel.nsi"
echo "installer: $build/quarvel-setup.exe"
