#!/usr/bin/env bash
# What a refresh writes: the main job over an up-to-date library after every
# template asset changed, so that each bundle's copies are made again (needs root):
#   QUARVEL_BENCH_DIR=$(bench/image.sh up xfs) bench/refresh.sh [--n N]   (N = 1000 unless told)
# Copies go through copy_file_range, which on a file system that can share blocks
# (xfs with reflink, btrfs) shares the source's instead of writing new ones. The script
# prints, for the first run and for the refresh, the time (including a final sync),
# the bytes the device holding the work folder wrote (clean on bench/image.sh's loop
# device, which carries nothing else) and the process's write_bytes, then how many of
# the copied assets share all their blocks with another file (filefrag -v, "shared"),
# and how many files the refresh changed (by their status-change time).
set -euo pipefail
cd "$(dirname "$0")/.."
. bench/common.sh
n=1000
while (($#)); do
  case $1 in
    --n) n=${2:?--n needs a count}; shift ;;
    *) echo "usage: bench/refresh.sh [--n N]" >&2; exit 2 ;;
  esac
  shift
done
bench_build "$PWD" build-bench quarvel-batch quarvel-bench-gen
bin="$PWD/build-bench/bin"

work=$(mktemp -d "${QUARVEL_BENCH_DIR:-/var/tmp}/quarvel-refresh.XXXXXX")
trap 'rm -rf "$work"' EXIT
stat=$(device_stat "$work")
echo "work folder $work on $(stat -f -c %T "$work"), device counters ${stat:-none}, kernel $(uname -r)"
"$bin/quarvel-bench-gen" install "$work/install" 50000 1000 100000
"$bin/quarvel-bench-gen" courses "$work/lib" "$n"
printf 'NB Path=%s\n' "$work/install" >"$work/quarvel.conf"
export QUARVEL_CONFIG="$work/quarvel.conf"
run=("$bin/quarvel-batch" updateDescriptionsFromHtml=true exitStatusMode=PassedIncomplete "$work/lib")

# step LABEL CMD...: one measured run, cold.
step() {
  local label=$1
  shift
  local figures
  figures=$(measure cold "$stat" "$@")
  if [ "$(cat "$work/status")" != 0 ]; then
    echo "$label failed (exit status $(cat "$work/status")):" >&2
    tail -n 5 "$work/stderr" >&2
    exit 1
  fi
  read -r seconds device process cpu <<<"$figures"
  printf '%-10s %8.3f s (CPU %.2f s), device %10.2f MB, process %10.2f MB\n' "$label" "$seconds" "$cpu" "$device" "$process"
}
# shared: of the asset files in the bundles (below controls/ and scripts/), how many have every extent
# shared, and their bytes.
shared() {
  find "$work/lib" \( -path '*/controls/*' -o -path '*/scripts/*' \) -type f -print0 | xargs -0 filefrag -v 2>/dev/null | awk '
    /^File size of/ {
      if (ext > 0 && ext == sh) {n++; bytes += size}
      size = $0; sub(/.* is /, "", size); sub(/ .*/, "", size); ext = sh = 0; total++
    }
    /^ *[0-9]+:/ {ext++; if ($0 ~ /shared/) sh++}
    END {if (ext > 0 && ext == sh) {n++; bytes += size}
         printf "%d of %d asset files (controls/, scripts/) share all their blocks (%.1f MB)\n", n, total, bytes / 1e6}'
}

step first "${run[@]}"
shared
touch "$work/stamp" && sleep 0.1
# A new player: every template asset gets new bytes, so every bundle's copy of it is made again.
find "$work/install/web/controls" "$work/install/web/scripts" -type f -print0 | xargs -0 -n 1 sh -c 'printf "\n" >>"$0"'
step refresh "${run[@]}"
echo "$(find "$work/lib" -cnewer "$work/stamp" -type f | wc -l) files changed by the refresh"
shared
