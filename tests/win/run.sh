#!/bin/sh
# Runs the Windows desktop program's tests under Wine, with a virtual display
# for the dialogs, in a Wine prefix of their own that goes afterwards.
# Usage: tests/win/run.sh BUILD_DIR (the cross-build folder, e.g. build-windows)
set -eu
build=${1:?usage: tests/win/run.sh BUILD_DIR}
tests="$build/bin/win_dialog_test.exe"
if [ ! -f "$tests" ]; then
  echo "tests/win/run.sh: no $tests; build the target win_dialog_test first" >&2
  exit 2
fi

# The program calls the dialog manager and the shell itself, not through a
# stand-in: their names are in its import table.
program="$build/bin/quarvel.exe"
if [ -f "$program" ]; then
  imports=$(x86_64-w64-mingw32-objdump -p "$program")
  for call in DialogBoxIndirectParamW CreateDialogIndirectParamW SHBrowseForFolderW SHGetPathFromIDListW \
              MessageBoxW CoTaskMemFree; do
    if ! printf '%s\n' "$imports" | grep -q "[[:space:]]$call\$"; then
      echo "tests/win/run.sh: quarvel.exe does not import $call" >&2
      exit 1
    fi
  done
  if printf '%s\n' "$imports" | grep "DLL Name" | grep -qiv -e kernel32 -e user32 -e shell32 -e ole32 \
      -e comctl32 -e gdi32 -e advapi32 -e msvcrt -e api-ms-win -e ucrtbase -e ws2_32 -e shlwapi -e bcrypt; then
    echo "tests/win/run.sh: quarvel.exe needs a DLL beside it:" >&2
    printf '%s\n' "$imports" | grep "DLL Name" >&2
    exit 1
  fi
fi

prefix=$(mktemp -d "${TMPDIR:-/tmp}/quarvel-win-tests.XXXXXX")
export WINEPREFIX="$prefix" WINEDEBUG=-all
# No Mono or Gecko install prompts in a fresh prefix.
export WINEDLLOVERRIDES="mscoree,mshtml="
cleanup() {
  wineserver -k 2>/dev/null || true
  rm -rf "$prefix"
}
trap cleanup EXIT INT TERM

# The prefix is made without a display: let its processes end, so that the
# tests' start brings up Wine's desktop on the virtual display.
wineboot -i >/dev/null 2>&1
wineserver -w
status=0
xvfb-run -a -s "-screen 0 1280x1024x24" wine "$tests" || status=$?
if [ "$status" -ne 0 ]; then
  echo "tests/win/run.sh: the dialog tests failed (status $status)" >&2
fi
exit "$status"
