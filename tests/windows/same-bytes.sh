#!/usr/bin/env bash
# Same bytes on both systems: the Linux quarvel-batch and quarvel-batch.exe
# under Wine run the same jobs with the same options over two copies of the
# sample installation, courses and videos (same bytes, same dates); after each
# job every file of the two copies (upload packages included) must be
# byte-identical, the patch log identical once decoded, save for the paths
# (Z:\...\ against /...) and the run time, and the messages and exit statuses
# the same.
#   tests/windows/same-bytes.sh [LINUX_BIN] [WINDOWS_BIN]
# LINUX_BIN is quarvel-batch or a folder holding it (or its bin folder),
# default build; WINDOWS_BIN likewise for quarvel-batch.exe, default
# build-windows. The install folder comes from the store file on Linux and
# from the registry value "NB Path" under Wine.
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
source_dir=$(cd "$here/../.." && pwd)
# shellcheck source=tests/windows/lib.sh
. "$here/lib.sh"
linux_bin=$(program_in "${1:-$source_dir/build}" quarvel-batch)
windows_bin=$(program_in "${2:-$source_dir/build-windows}" quarvel-batch.exe)

work=$(mktemp -d "${TMPDIR:-/tmp}/quarvel-same-bytes.XXXXXX")
trap 'wine_stop; rm -rf "$work"' EXIT
wine_start "$work/prefix"
probe_build "$work"
mkdir "$work/out"

# The same input twice, as an installation has it (schemas included), with
# dates just after a local midnight: all in summer (00:30 EDT; a date that
# ignores summer time comes out a day early) but the player script, in winter
# (23:30 EST; a date taken in UTC, or always in summer time, comes out a day
# late).
for side in linux windows; do
  mkdir "$work/$side"
  cp -r "$source_dir/sample/install" "$work/$side/install"
  cp -r "$source_dir/res/schemas" "$work/$side/install/schemas"
  rm -f "$work/$side/install/schemas/.gitattributes"
  cp -r "$source_dir/sample/courses" "$work/$side/courses"
  cp -r "$source_dir/sample/videos" "$work/$side/videos"
  find "$work/$side" -exec touch -h -d '2024-07-16 04:30:00 UTC' {} +
  touch -d '2024-02-01 04:30:00 UTC' "$work/$side/install/web/scripts/NimbrelWebPlayer.js"
  # As bundles come from Windows machines: a settings file named in other
  # letter case, and a read-only file the run regenerates.
  mv "$work/$side/courses/intro101/xml/interface.xml" "$work/$side/courses/intro101/xml/Interface.XML"
  chmod a-w "$work/$side/courses/fire101/imsmanifest.xml"
done
printf 'NB Path=%s\n' "$work/linux/install" >"$work/linux.conf"
windows_root=$(winepath -w "$work/windows")
wine reg add 'HKLM\Software\Nimbrel' /v 'NB Path' /t REG_SZ /d "$windows_root\\install" /f >/dev/null
check_environment "$work/probe.exe" "$work/windows/install/web/quarvel.exe"
check_environment "$work/probe.exe" "$work/windows/install/web/scripts/NimbrelWebPlayer.js"

compared=0

# normalise SIDE: standard input with SIDE's root folder as <root> and, from
# Windows, "/" for "\" and LF for CR LF in messages.
normalise() {
  if [ "$1" = linux ]; then
    ROOT="$work/linux" perl -pe 's/\Q$ENV{ROOT}\E/<root>/g'
  else
    ROOT="$windows_root" perl -pe 's/\Q$ENV{ROOT}\E/<root>/g; s/\\/\//g'
  fi
}

# mask_run_times LINUX_FILE WINDOWS_FILE: the run time each names (MM/DD/YYYY
# HH:MM, local) must be the same instant give or take two minutes (the runs
# follow each other); both are then written as <run time>.
mask_run_times() {
  local pattern='[0-9]{2}/[0-9]{2}/[0-9]{4} [0-9]{2}:[0-9]{2}' l w
  paste <(grep -oE "$pattern" "$1") <(grep -oE "$pattern" "$2") >"$work/times" || true
  while IFS=$'\t' read -r l w; do
    if [ -z "$l" ] || [ -z "$w" ]; then
      fail "run times differ in number: '$l' on Linux, '$w' under Wine"
    else
      local seconds=$(($(date -d "$l" +%s) - $(date -d "$w" +%s)))
      check "run time $l on Linux, $w under Wine" test "${seconds#-}" -le 120
    fi
  done <"$work/times"
  perl -i -pe "s|$pattern|<run time>|g" "$1" "$2"
}

# compare_text WHAT LINUX_FILE WINDOWS_FILE: identical, or the first lines of a diff.
compare_text() {
  if diff -u --label "Linux $1" --label "Windows $1" "$2" "$3" >"$work/diff"; then
    pass
  else
    fail "$1 differs:"
    head -20 "$work/diff" >&2
  fi
}

# compare_log JOB PATH: the patch log of the two copies, decoded from UTF-16LE.
compare_log() {
  local side
  for side in linux windows; do
    if ! iconv -f UTF-16LE -t UTF-8 "$work/$side/$2" >"$work/log.raw.$side" 2>"$work/iconv"; then
      fail "$1: the $side patch log is not UTF-16LE: $(cat "$work/iconv")"
    fi
    normalise "$side" <"$work/log.raw.$side" >"$work/log.$side"
  done
  mask_run_times "$work/log.linux" "$work/log.windows"
  compare_text "$1: patch log" "$work/log.linux" "$work/log.windows"
}

# compare_trees JOB: the two copies hold the same names (folders included,
# letter case included), the same files read-only (no owner write permission,
# the read-only attribute under Wine) and the same bytes. The undo records are
# each system's own (its paths, its order of commits), not the run's output.
compare_trees() {
  local side path
  for side in linux windows; do
    (cd "$work/$side" && find . -mindepth 1 -path './install/undo runs' -prune -o \( -type d -printf '%P/\n' \) -o \
      \( ! -perm -u=w -printf '%P (read-only)\n' \) -o -printf '%P\n' | LC_ALL=C sort) >"$work/names.$side"
  done
  while IFS= read -r path; do fail "$1: only on Linux: $path"; done \
    < <(LC_ALL=C comm -23 "$work/names.linux" "$work/names.windows")
  while IFS= read -r path; do fail "$1: only under Wine: $path"; done \
    < <(LC_ALL=C comm -13 "$work/names.linux" "$work/names.windows")
  while IFS= read -r path; do
    case $path in */) continue ;; *" (read-only)") path=${path% (read-only)} ;; esac
    compared=$((compared + 1))
    if [ "$(basename "$path")" = nb_logfile.txt ]; then
      compare_log "$1" "$path"
    elif cmp -s "$work/linux/$path" "$work/windows/$path"; then
      pass
    else
      fail "$1: $path differs ($(stat -c %s "$work/linux/$path") bytes on Linux," \
        "$(stat -c %s "$work/windows/$path") under Wine); first differences (offset, octal bytes):"
      cmp -l "$work/linux/$path" "$work/windows/$path" 2>&1 | head -8 >&2 || true
    fi
  done < <(LC_ALL=C comm -12 "$work/names.linux" "$work/names.windows")
}

# run_job JOB FOLDER [NAME=VALUE ...]: one run on each side (FOLDER below the
# copy, "" for none), then the messages, exit statuses and files compared.
# The Linux run must end with $expected_status (default 0).
run_job() {
  local job=$1 folder=$2 linux_status=0 windows_status=0 side stream expected=${expected_status:-0}
  shift 2
  local linux_args=("$@") windows_args=("$@")
  if [ -n "$folder" ]; then
    linux_args+=("$work/linux/$folder")
    windows_args+=("$windows_root\\$folder")
  fi
  (cd "$work/linux" && env LC_ALL=en_US.UTF-8 QUARVEL_CONFIG="$work/linux.conf" "$linux_bin" \
    "${linux_args[@]}" >"$work/out/$job.linux.out" 2>"$work/out/$job.linux.err") || linux_status=$?
  (cd "$work/windows" && wine "$windows_bin" "${windows_args[@]}" \
    >"$work/out/$job.windows.out" 2>"$work/out/$job.windows.err") || windows_status=$?
  wineserver -w
  # A job that fails on both sides proves nothing: the status is the one the sample gives.
  check "$job: exit status $linux_status on Linux, not $expected: $(cat "$work/out/$job.linux.err")" \
    test "$linux_status" = "$expected"
  check "$job: exit status $linux_status on Linux, $windows_status under Wine" \
    test "$linux_status" = "$windows_status"
  for stream in out err; do
    for side in linux windows; do
      normalise "$side" <"$work/out/$job.$side.$stream" | tr -d '\r' >"$work/out/$job.$side.$stream.n"
    done
    mask_run_times "$work/out/$job.linux.$stream.n" "$work/out/$job.windows.$stream.n"
    compare_text "$job: standard $stream" "$work/out/$job.linux.$stream.n" "$work/out/$job.windows.$stream.n"
  done
  compare_trees "$job"
}

# One sequence, each job reading what the ones before wrote: the spreadsheet
# job fills the catalogues (Windows-1252 text), the main jobs take their
# descriptions from them, the VOD job its titles.
run_job spreadsheet "" updateFromSpreadsheet=true
run_job scorm12 courses packageType=Scorm12 updateDescriptionsFromHtml=true \
  updateDescriptionsInInterfaceXml=true testMode=Assessment pretestQuestionCount=10 \
  pretestPassingScore=80 posttestRetakeCount=2 courseTimeout=90 exitStatusMode=PassedIncomplete \
  certificatePrinting=true showNavBar=true keepDetailedBookmarking=true
# Upload packages and the schema check: the same zips, and the same check
# lines, among them the sample's one manifest that its schema refuses (exit 3).
expected_status=3 run_job upload courses zipPackages=true validatePackages=true
check "upload: the schema check refused nothing under Wine" \
  grep -qF "<root>/courses/hrs_fin_101/imsmanifest.xml' does not pass the schema check, line 33:" "$work/log.windows"
check_not "upload: the schemas were not found" grep -qF "are missing or unreadable" "$work/log.linux" "$work/log.windows"
check "upload: not every bundle was zipped under Wine" \
  test "$(find "$work/windows/install/upload packages" -name '*.zip' | wc -l)" = \
  "$(find "$source_dir/sample/courses" -mindepth 1 -maxdepth 1 -type d | wc -l)"
run_job xapi courses packageType=Xapi updateDescriptionsFromHtml=true exitStatusMode=CompletedIncomplete \
  allowVideoSkip=true accessibilityDefault=true fullScreenAtStartup=true skipCongratsScreen=true \
  isHr=true deleteBmp=true zipPackages=true validatePackages=true
run_job vod videos createVodPackages=true

summary same-bytes "$compared file comparisons over 5 jobs"
