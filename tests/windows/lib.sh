# shellcheck shell=bash
# Shared by the scripts of this folder (sourced): a Wine prefix of the script's
# own, the pinned environment, the probe program and the pass/fail tally.

# The environment both systems run in: a time zone with summer time, so that
# a wrong conversion of file dates shows, and (see wine below) the ANSI code
# page Windows-1252. Wine maps TZ to a Windows zone, but the Windows C runtime
# reads TZ itself, in its own form only ("Europe/Berlin" is UTC to it): EST5EDT
# means the same to glibc, Wine and the C runtime, summer time included.
export TZ=EST5EDT
export WINEDEBUG=-all
# No Mono or Gecko download prompt in a fresh prefix; no program here needs them.
export WINEDLLOVERRIDES="mscoree=;mshtml="
unset DISPLAY

checks=0 failures=0

# pass / fail MESSAGE: one check's outcome; a failure is printed.
pass() { checks=$((checks + 1)); }
fail() {
  checks=$((checks + 1))
  failures=$((failures + 1))
  echo "FAIL: $*" >&2
}

# check MESSAGE COMMAND [ARG ...]: passes when COMMAND succeeds.
check() {
  local message=$1
  shift
  if "$@"; then pass; else fail "$message"; fi
}

# silent COMMAND [ARG ...]: COMMAND with its output dropped.
silent() { "$@" >/dev/null 2>&1; }

# check_not MESSAGE COMMAND [ARG ...]: passes when COMMAND fails (its output
# is dropped).
check_not() {
  local message=$1
  shift
  if "$@" >/dev/null 2>&1; then fail "$message"; else pass; fi
}

# wine ARG ...: Wine with the ANSI code page Windows-1252, which Wine takes
# from the locale's name (the host needs no such locale; "env" keeps bash from
# trying to switch to it).
wine() { env LC_ALL=en_US.UTF-8 wine "$@"; }

# wine_start DIR: a fresh Wine prefix in DIR (made here, never ~/.wine).
wine_start() {
  export WINEPREFIX=$1
  mkdir -p "$WINEPREFIX"
  wine wineboot -i >/dev/null 2>&1
  wineserver -w
}

# wine_stop: ends the prefix's Wine processes (the caller removes the folder).
wine_stop() {
  if [ -n "${WINEPREFIX:-}" ] && [ -d "$WINEPREFIX" ]; then wineserver -k 2>/dev/null || true; fi
}

# wine_run PROGRAM [ARG ...]: runs a Windows program and waits until every
# process it started has ended (an uninstaller hands over to a copy of itself).
wine_run() {
  local status=0
  wine "$@" || status=$?
  wineserver -w
  return "$status"
}

# program_in PATH NAME: PATH when it is a file, else PATH/NAME or PATH/bin/NAME.
program_in() {
  local path
  for path in "$1" "$1/$2" "$1/bin/$2"; do
    if [ -f "$path" ]; then
      (cd "$(dirname "$path")" && printf '%s/%s\n' "$PWD" "$(basename "$path")")
      return 0
    fi
  done
  echo "no $2 at $1" >&2
  return 1
}

# probe_build DIR: compiles probe.c into DIR/probe.exe.
probe_build() {
  x86_64-w64-mingw32-gcc-posix -municode -O2 -o "$1/probe.exe" "$(dirname "${BASH_SOURCE[0]}")/probe.c"
}

# check_environment PROBE FILE: Wine's ANSI code page is 1252, and it reads
# FILE's date in local time as Linux does.
check_environment() {
  local probe=$1 file=$2 seen
  seen=$(wine "$probe" "$(winepath -w "$file")" | tr -d '\r')
  check "the ANSI code page under Wine is not 1252: $(head -1 <<<"$seen")" \
    test "$(head -1 <<<"$seen")" = "acp 1252"
  check "Wine reads $file's date as '$(tail -1 <<<"$seen")', Linux as $(date -r "$file" '+%F %R')" \
    test "$(tail -1 <<<"$seen")" = "local $(date -r "$file" '+%F %R')"
}

# summary NAME WHAT: the script's one summary line; the exit status for it.
summary() {
  echo "$1: $2, $failures of $checks checks failed"
  ((failures == 0))
}
