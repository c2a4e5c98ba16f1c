#!/usr/bin/env bash
# The Windows checks under Wine: the installer, and the same bytes as the
# Linux build. Both run, whatever the first gives; the exit status is non-zero
# when either failed.
#   tests/windows/run.sh [BUILD_WINDOWS] [LINUX_BUILD]   (default build-windows, build)
set -uo pipefail
here=$(cd "$(dirname "$0")" && pwd)
source_dir=$(cd "$here/../.." && pwd)
build_windows=${1:-$source_dir/build-windows}
linux_build=${2:-$source_dir/build}
status=0
"$here/installer.sh" "$build_windows" || status=1
"$here/same-bytes.sh" "$linux_build" "$build_windows" || status=1
exit "$status"
