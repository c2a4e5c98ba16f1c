#!/usr/bin/env bash
# Builds Quarvel and runs the main job over a fresh copy of the sample courses
# with the sample installation, then prints the patch log.
set -euo pipefail
cd "$(dirname "$0")/.."
tools/install-deps.sh
cmake -S . -B build -G Ninja >/dev/null
cmake --build build -j "$(nproc)" --target quarvel-batch
work="${QUARVEL_DEMO_DIR:-/tmp/quarvel-demo}"
rm -rf "$work"
mkdir -p "$work"
cp -r sample/install "$work/install"
cp -r sample/courses "$work/courses"
printf 'NB Path=%s\n' "$work/install" > "$work/quarvel.conf"
QUARVEL_CONFIG="$work/quarvel.conf" build/bin/quarvel-batch "$@" "$work/courses"
echo
echo "Patch log ($work/install/nb_logfile.txt):"
iconv -f UTF-16 -t UTF-8 "$work/install/nb_logfile.txt" | tr -d '\r'
echo
echo "The patched courses are in $work/courses"
