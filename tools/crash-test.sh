#!/usr/bin/env bash
# Power-cut tests: builds the crash test program in BUILD_DIR and runs it on a
# reflink-capable xfs in a loop-mounted image file of its own. Needs root,
# loop devices, xfsprogs and e2fsprogs. Every mount and loop device it made is
# undone on exit, failed or not.
#   tools/crash-test.sh BUILD_DIR [GTEST_FILTER]
set -euo pipefail
build=$(realpath "${1:?usage: tools/crash-test.sh BUILD_DIR [GTEST_FILTER]}")
filter="${2:-*}"
cd "$(dirname "$0")/.."
[ "$(id -u)" -eq 0 ] || { echo "crash-test.sh: must run as root (loop devices)" >&2; exit 1; }
cmake --build "$build" --target crash_tests quarvel-batch >/dev/null

work=$(mktemp -d "$build/crash.XXXXXX")
outer="$work/outer"

# Undoes, innermost first, every mount below $work and every loop device
# whose backing file is below it (the inner images live on the outer mount).
cleanup() {
  local round m dev file
  for round in 1 2 3; do
    while read -r m; do
      umount "$m" 2>/dev/null || umount -l "$m" 2>/dev/null || true
    done < <(awk -v w="$work/" 'index($2, w) == 1 && $2 != w "outer" {print length($2), $2}' /proc/mounts |
      sort -rn | cut -d' ' -f2-)
    while read -r dev file; do
      [[ $file == "$outer"/* ]] && losetup -d "$dev" 2>/dev/null || true
    done < <(losetup -l -n -O NAME,BACK-FILE 2>/dev/null)
    mountpoint -q "$outer" && { umount "$outer" 2>/dev/null || [ "$round" -lt 3 ] || umount -l "$outer"; }
    while read -r dev file; do
      [[ $file == "$work"/* ]] && losetup -d "$dev" 2>/dev/null || true
    done < <(losetup -l -n -O NAME,BACK-FILE 2>/dev/null)
    mountpoint -q "$outer" || break
    sleep 1
  done
  rm -rf "$work"
}
trap cleanup EXIT
trap 'exit 130' INT TERM

truncate -s 12G "$work/outer.img"
mkfs.xfs -q -m reflink=1 "$work/outer.img"
mkdir -p "$outer"
mount -o loop "$work/outer.img" "$outer"
start=$(date +%s)
QUARVEL_CRASH_DIR="$outer" TZ=UTC "$build/bin/crash_tests" --gtest_filter="$filter"
echo "crash tests: $(($(date +%s) - start)) s"
