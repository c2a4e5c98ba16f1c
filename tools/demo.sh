#!/usr/bin/env bash
# Builds both programs and runs the main job over a fresh copy of the sample
# courses with a fresh copy of the sample installation, in a new temporary
# folder; prints the patch log and how to start the desktop program on the
# same sample. Arguments are passed to quarvel-batch (NAME=VALUE settings).
set -euo pipefail
cd "$(dirname "$0")/.."
tools/install-deps.sh build
cmake -S . -B build -G Ninja >/dev/null
cmake --build build -j "$(nproc)" --target quarvel-batch quarvel
work="$(mktemp -d "${TMPDIR:-/tmp}/quarvel-demo.XXXXXX")"
cp -r sample/install "$work/install"
# The schemas an installation ships beside its template folder (validatePackages=true).
cp -r res/schemas "$work/install/schemas"
rm -f "$work/install/schemas/.gitattributes"
cp -r sample/courses "$work/courses"
printf 'NB Path=%s\n' "$work/install" >"$work/quarvel.conf"
status=0
QUARVEL_CONFIG="$work/quarvel.conf" build/bin/quarvel-batch "$@" "$work/courses" || status=$?
if [ -f "$work/install/nb_logfile.txt" ]; then
  echo
  echo "Patch log ($work/install/nb_logfile.txt):"
  iconv -f UTF-16 -t UTF-8 "$work/install/nb_logfile.txt" | tr -d '\r'
fi
echo
echo "The patched courses are in $work/courses"
echo "Start the desktop program on the same sample with:"
echo "  QUARVEL_CONFIG=$work/quarvel.conf build/bin/quarvel"
exit "$status"
