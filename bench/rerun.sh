#!/usr/bin/env bash
# What a run over an up-to-date library writes and costs (needs root, for the
# dropped page cache):
#   bench/rerun.sh                     N = 1000, 3 repetitions
#   bench/rerun.sh --n N --reps R
# Each repetition, on a fresh copy of the library:
#   first     the main job over the library as generated
#   second    the main job again, cold (page cache dropped) and then warm
#   a tenth   the main job after every tenth bundle's interface.xml is put back as
#             generated (a bundle exported again), cold; the files it changed are
#             counted by their status-change time
# and, on another fresh copy, the durable floor. Each row gives the time (including
# a final sync), the bytes the device holding the work folder wrote over that time
# (its sectors-written counter: clean only on a device nothing else uses, such as
# bench/image.sh's loop device), the process's own write_bytes and its CPU time.
# QUARVEL_BENCH_DIR: where the work folder is made (default /var/tmp).
set -euo pipefail
cd "$(dirname "$0")/.."
. bench/common.sh
n=1000 reps=3
while (($#)); do
  case $1 in
    --n) n=${2:?--n needs a count}; shift ;;
    --reps) reps=${2:?--reps needs a count}; shift ;;
    *) echo "usage: bench/rerun.sh [--n N] [--reps R]" >&2; exit 2 ;;
  esac
  shift
done
bench_build "$PWD" build-bench quarvel-batch quarvel-bench-gen quarvel-bench-floor
bin="$PWD/build-bench/bin"

work=$(mktemp -d "${QUARVEL_BENCH_DIR:-/var/tmp}/quarvel-rerun.XXXXXX")
trap 'rm -rf "$work"' EXIT
stat=$(device_stat "$work")
echo "work folder $work on $(stat -f -c %T "$work"), device counters ${stat:-none}"
"$bin/quarvel-bench-gen" install "$work/install" 50000 1000 100000
"$bin/quarvel-bench-gen" courses "$work/master" "$n"
printf 'NB Path=%s\n' "$work/install" >"$work/quarvel.conf"
export QUARVEL_CONFIG="$work/quarvel.conf"
run=("$bin/quarvel-batch" updateDescriptionsFromHtml=true exitStatusMode=PassedIncomplete "$work/lib")

declare -A rows
# row NAME cold|warm CMD...: measures CMD and adds its figures to row NAME.
row() {
  local name=$1 cache=$2
  shift 2
  local figures
  figures=$(measure "$cache" "$stat" "$@")
  if [ "$(cat "$work/status")" != 0 ]; then
    echo "$name failed (exit status $(cat "$work/status")):" >&2
    tail -n 5 "$work/stderr" >&2
    exit 1
  fi
  rows[$name]+="$figures"$'\n'
  echo "  $name: $figures" >&2
}
# changed: files below the library whose status changed after the stamp.
changed() { find "$work/lib" -cnewer "$work/stamp" -type f | wc -l; }

row idle cold true
for ((i = 0; i < reps; i++)); do
  echo "repetition $((i + 1)) of $reps" >&2
  rm -rf "$work/lib" && cp -a "$work/master" "$work/lib"
  row durable cold "$bin/quarvel-bench-floor" --durable bundles "$work/install" "$work/lib"
  rm -rf "$work/lib" && cp -a "$work/master" "$work/lib"
  row first cold "${run[@]}"
  files=$(find "$work/lib" -type f | wc -l)
  touch "$work/stamp" && sleep 0.1
  row second-cold cold "${run[@]}"
  rows[second-files]+="$(changed)"$'\n'
  touch "$work/stamp" && sleep 0.1
  row second-warm warm "${run[@]}"
  rows[second-files]+="$(changed)"$'\n'
  for ((b = 0; b < n; b += 10)); do
    course=$(printf 'course%04d' "$b")
    cp "$work/master/$course/xml/interface.xml" "$work/lib/$course/xml/interface.xml"
  done
  touch "$work/stamp" && sleep 0.1
  row tenth cold "${run[@]}"
  rows[tenth-files]+="$(changed)"$'\n'
done

# column NAME K: the median of field K of row NAME.
column() { printf '%s' "${rows[$1]}" | awk -v k="$2" 'NF {print $k}' | median; }
echo "main job N=$n, $files files in the library after a run, medians of $reps"
printf '%-12s %9s %12s %13s %12s %s\n' "" seconds "device MB" "process MB" "CPU seconds" "files changed"
for name in idle durable first second-cold second-warm tenth; do
  files_changed=""
  case $name in
    second-*) files_changed=$(printf '%s' "${rows[second-files]}" | median) ;;
    tenth) files_changed=$(printf '%s' "${rows[tenth-files]}" | median) ;;
  esac
  printf '%-12s %9.3f %12.2f %13.2f %12.2f %s\n' "$name" "$(column "$name" 1)" "$(column "$name" 2)" \
    "$(column "$name" 3)" "$(column "$name" 4)" "$files_changed"
done
first=$(column first 1) durable=$(column durable 1)
echo "second run: $(awk -v a="$(column second-warm 1)" -v d="$durable" 'BEGIN {printf "%.3f", a / d}')x" \
  "the durable floor warm, $(awk -v a="$(column second-cold 1)" -v d="$durable" 'BEGIN {printf "%.3f", a / d}')x cold;" \
  "process bytes $(awk -v a="$(column second-cold 3)" -v f="$(column first 3)" 'BEGIN {printf "%.3f%%", a * 100 / f}')" \
  "and device bytes $(awk -v a="$(column second-cold 2)" -v f="$(column first 2)" 'BEGIN {printf "%.3f%%", a * 100 / f}')" \
  "of the first run's; first run $(awk -v a="$first" -v d="$durable" 'BEGIN {printf "%.2f", a / d}')x the durable floor"
