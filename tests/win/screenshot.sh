#!/bin/sh
# A screenshot of quarvel.exe's settings dialog under Wine, in a Wine desktop
# of its own on a virtual display (Wine then draws the window frames).
# Usage: tests/win/screenshot.sh BUILD_DIR OUT.png
# Needs xvfb-run and ImageMagick's import.
set -eu
if [ "${1:-}" = --inside ]; then
  program=$2 out=$3
  wine explorer /desktop=quarvel,1000x640 "$program" &
  # The dialog opens a few seconds after the desktop.
  sleep 8
  import -window root "$out"
  wineserver -k
  exit 0
fi

build=${1:?usage: tests/win/screenshot.sh BUILD_DIR OUT.png}
out=$(realpath -m "${2:?usage: tests/win/screenshot.sh BUILD_DIR OUT.png}")
program=$(realpath "$build/bin/quarvel.exe")
work=$(mktemp -d "${TMPDIR:-/tmp}/quarvel-win-shot.XXXXXX")
export WINEPREFIX="$work/prefix" WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
trap 'wineserver -k 2>/dev/null || true; rm -rf "$work"' EXIT INT TERM
mkdir -p "$work/install/web"
wineboot -i >/dev/null 2>&1
wine reg add 'HKLM\Software\Nimbrel' /v 'NB Path' /t REG_SZ /d "$(winepath -w "$work/install")" /f >/dev/null 2>&1
wineserver -w
xvfb-run -a -s "-screen 0 1000x640x24" "$0" --inside "$program" "$out"
echo "tests/win/screenshot.sh: wrote $out"
