#!/usr/bin/env bash
# The Windows build, cross-compiled on Debian with mingw-w64, and its tests under Wine.
#   tools/windows.sh build   configure build-windows/ and build the programs into build-windows/bin/
#   tools/windows.sh         that, the unit tests too, and run them under Wine
# Needs: g++-mingw-w64-x86-64-posix, wine64, googletest (tools/install-deps.sh test).
set -euo pipefail
cd "$(dirname "$0")/.."
what="${1:-test}"
case "$what" in
  build | test) ;;
  *) echo "usage: $0 [build|test]" >&2; exit 2 ;;
esac

build=build-windows
testing=OFF
[ "$what" = test ] && testing=ON
export CCACHE_BASEDIR=$PWD CCACHE_NOHASHDIR=true
cmake -S . -B "$build" -G Ninja -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-w64.cmake -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DQUARVEL_WARNINGS_AS_ERRORS=ON -DQUARVEL_BUILD_GUI=OFF -DBUILD_TESTING="$testing" >/dev/null
jobs="${QUARVEL_JOBS:-2}"
nice cmake --build "$build" -j"$jobs"
{
  # Statically linked (the compiler's runtime, zlib, libzip, libxml2): only
  # DLLs that come with Windows may be named.
  system_dlls='^(kernel32|advapi32|msvcrt|shell32|user32|gdi32|comctl32|comdlg32|ole32|oleaut32|shlwapi|ws2_32)\.dll$'
  for exe in "$build"/bin/*.exe; do
    others=$(x86_64-w64-mingw32-objdump -p "$exe" | sed -n 's/^\s*DLL Name: //p' | grep -viE "$system_dlls" | tr '\n' ' ' || true)
    if [ -n "$others" ]; then
      echo "$exe needs DLLs that do not come with Windows: $others" >&2
      exit 1
    fi
  done
  # The layer calls the Win32 API itself, not a C runtime stand-in for it.
  imports=$(x86_64-w64-mingw32-objdump -p "$build/bin/quarvel-batch.exe")
  for call in FindFirstFileExW FindNextFileW ReplaceFileW MoveFileExW FlushFileBuffers LockFileEx CreateDirectoryW \
    DeleteFileW GetFileAttributesW SystemTimeToTzSpecificLocalTime MultiByteToWideChar RegQueryValueExW \
    RegSetValueExW RegCreateKeyW RegOpenKeyExW; do
    if ! grep -qw "$call" <<<"$imports"; then
      echo "quarvel-batch.exe does not import $call" >&2
      exit 1
    fi
  done
}
[ "$what" = build ] && exit 0

# Wine in a prefix of its own, made for this run and shut down at the end.
export WINEPREFIX WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
WINEPREFIX="$(mktemp -d "${TMPDIR:-/tmp}/quarvel-wine.XXXXXX")"
cleanup() {
  wineserver -k 2>/dev/null || true
  rm -rf "$WINEPREFIX"
}
trap cleanup EXIT
wineboot -i >/dev/null 2>&1
# File names in UTF-8 on the Linux side; Wine then takes a Western system,
# whose ANSI code page is Windows-1252.
export LANG=C.UTF-8 LC_ALL=C.UTF-8
status=0
passed=0
failed=0
# What a test program prints for a test that failed.
failed_test='^\[  FAILED  \]|Failure'
for test in "$build"/bin/*_tests.exe; do
  [ -e "$test" ] || continue
  name=$(basename "$test" .exe)
  start=$SECONDS
  code=0
  wine "$test" --gtest_brief=1 >"$build/$name.log" 2>&1 || code=$?
  if [ "$code" -ne 0 ] && ! grep -qE "$failed_test" "$build/$name.log"; then
    # No test failed, yet the program did not end well (a crash outside the
    # tests, or Wine itself): show how it ended, and run it once more, so that
    # one such hiccup of Wine's is told apart from a fault that repeats.
    echo "$name: ended with status $code without a failed test; its last lines:"
    tail -n 15 "$build/$name.log" | sed 's/^/    /'
    code=0
    wine "$test" --gtest_brief=1 >"$build/$name.log" 2>&1 || code=$?
  fi
  if [ "$code" -eq 0 ]; then
    passed=$((passed + 1))
    echo "$name: passed ($((SECONDS - start)) s)"
  else
    failed=$((failed + 1))
    status=1
    echo "$name: FAILED with status $code ($((SECONDS - start)) s)"
    grep -E "$failed_test" "$build/$name.log" | head -40 || tail -n 15 "$build/$name.log"
  fi
done
echo "windows: $passed passed, $failed failed"
exit $status
