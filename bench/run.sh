#!/usr/bin/env bash
# The benchmark: quarvel-batch against the floor of the same file I/O, plain and durable.
#   bench/run.sh                N = 100, 1000, 5000 (about ten minutes on 2 cores)
#   bench/run.sh quick          N = 100 and 1000 only, one repetition
#   bench/run.sh --vs REV       also times quarvel-batch built from git revision REV,
#                               side by side on the same libraries
#   bench/run.sh --reps R       R repetitions for N = 100 and 1000 (default 3, quick 1)
#   bench/run.sh --sizes "N..." the library sizes to time
# QUARVEL_BENCH_DIR: the folder in which the work folder is made (default /var/tmp;
# it must be on a disk, not tmpfs, for the durable figures to mean anything).
set -euo pipefail
cd "$(dirname "$0")/.."
sizes=(100 1000 5000) reps="" default_reps=3 summary_n=1000 vs=""
while (($#)); do
  case $1 in
    quick) sizes=(100 1000) default_reps=1 ;;
    --vs) vs=${2:?--vs needs a git revision}; shift ;;
    --reps) reps=${2:?--reps needs a count}; shift ;;
    --sizes) read -r -a sizes <<<"${2:?--sizes needs a list}"; shift ;;
    *) echo "usage: bench/run.sh [quick] [--vs REV] [--reps R] [--sizes \"N ...\"]" >&2; exit 2 ;;
  esac
  shift
done
reps=${reps:-$default_reps}

# build SOURCE BUILD TARGET...: a Release build without the desktop program or tests.
build() {
  local source=$1 dir=$2
  shift 2
  CCACHE_BASEDIR="$source" CCACHE_NOHASHDIR=true cmake -S "$source" -B "$dir" -G Ninja -DCMAKE_BUILD_TYPE=Release \
    -DQUARVEL_BUILD_GUI=OFF -DBUILD_TESTING=OFF >/dev/null
  CCACHE_BASEDIR="$source" CCACHE_NOHASHDIR=true cmake --build "$dir" --target "$@" >/dev/null
}
build "$PWD" build-bench quarvel-batch quarvel-bench-gen quarvel-bench-floor
bin="$PWD/build-bench/bin"
previous=""
undo_off=""
if [ -n "$vs" ]; then
  # The other revision from git's own copy of it, built in a folder of its own laid
  # out like this one, so that the compiler cache serves the files both share.
  commit=$(git rev-parse --verify "$vs^{commit}")
  other="$PWD/build-bench/vs-${commit:0:12}"
  if [ ! -x "$other/build-bench/bin/quarvel-batch" ]; then
    rm -rf "$other"
    mkdir -p "$other"
    git archive "$commit" | tar -x -C "$other"
    build "$other" "$other/build-bench" quarvel-batch
  fi
  previous="$other/build-bench/bin/quarvel-batch"
  echo "previous: $vs ($(git log -1 --format='%h %s' "$commit"))"
fi

work=$(mktemp -d "${QUARVEL_BENCH_DIR:-/var/tmp}/quarvel-bench.XXXXXX")
trap 'rm -rf "$work"' EXIT
echo "work folder $work on $(stat -f -c %T "$work")"
# ext4 without a journal skips every inode freed in the last minutes when it
# allocates one, so there each new file costs more the more the step before
# deleted (each repetition deletes the last one's library): say so.
device=$(findmnt -n -o SOURCE --target "$work" 2>/dev/null || true)
options="/proc/fs/ext4/${device##*/}/options"
if [ -r "$options" ] && ! grep -q '^data=' "$options"; then
  echo "note: $device is ext4 without a journal; timings there depend on what was deleted just before" \
    "(QUARVEL_BENCH_DIR=\$(bench/image.sh up) gives steadier ones)"
fi
"$bin/quarvel-bench-gen" install "$work/install" 50000 1000 100000
printf 'NB Path=%s\n' "$work/install" >"$work/quarvel.conf"
export QUARVEL_CONFIG="$work/quarvel.conf"

now() { date +%s%N; }
median() { sort -g | awk '{v[NR]=$1} END {print NR % 2 ? v[(NR+1)/2] : (v[NR/2] + v[NR/2+1]) / 2}'; }
# Runs a command and flushes what it wrote to the disk; prints "seconds peak_kb" and
# leaves the command's exit status in $work/status.
# Each timing starts from a flushed disk and, where allowed, a dropped page cache,
# and includes the final flush, so that write-back of one run never lands in another.
timed() {
  sync
  echo 3 >/proc/sys/vm/drop_caches 2>/dev/null || true
  local t0 t1
  t0=$(now)
  local status=0
  /usr/bin/time -f %M -o "$work/rss" "$@" >/dev/null 2>"$work/stderr" || status=$?
  echo "$status" >"$work/status"
  sync
  t1=$(now)
  echo "$(awk -v a="$t0" -v b="$t1" 'BEGIN {printf "%.4f", (b - a) / 1e9}') $(tail -n 1 "$work/rss")"
}

# compare REPS: times, REPS times in turn, each command of the job on fresh input made
# by `prepare`: the program (`run`), the previous revision's (`run` with $previous,
# when --vs is given), the floor (`floor`) and the durable floor (`floor --durable`).
# Sets med[KIND] (median seconds), ratio[KIND] (median of the pairwise ratios
# program / KIND) and peak[KIND] (largest resident set, MB).
declare -A med ratio peak
compare() {
  local reps=$1 i kind t kb
  local -A times=() kbs=()
  local kinds=(run floor durable)
  [ -n "$previous" ] && kinds=(previous run floor durable)
  [ -n "$undo_off" ] && kinds+=(undo_off)
  for ((i = 0; i < reps; i++)); do
    for kind in "${kinds[@]}"; do
      prepare
      case $kind in
        run) read -r t kb < <(timed "$bin/quarvel-batch" "${run_args[@]}") ;;
        previous) read -r t kb < <(timed "$previous" "${run_args[@]}") ;;
        undo_off) read -r t kb < <(timed "$bin/quarvel-batch" keepUndoRuns=0 "${run_args[@]}") ;;
        floor) read -r t kb < <(timed "$bin/quarvel-bench-floor" "${floor_args[@]}") ;;
        durable) read -r t kb < <(timed "$bin/quarvel-bench-floor" --durable "${floor_args[@]}") ;;
      esac
      if [ "$(cat "$work/status")" != 0 ]; then
        echo "$kind failed (exit status $(cat "$work/status")):" >&2
        tail -5 "$work/stderr" >&2
        # The patch log says why; the work folder goes with the exit.
        grep -a -m 5 "Could not" "$work/install/nb_logfile.txt" 2>/dev/null | tr -d '\0' >&2 || true
        exit 1
      fi
      times[$kind]+="$t "
      ((kb > ${kbs[$kind]:-0})) && kbs[$kind]=$kb
    done
  done
  for kind in "${kinds[@]}"; do
    med[$kind]=$(printf '%s\n' ${times[$kind]} | median)
    peak[$kind]=$((kbs[$kind] / 1024))
    ratio[$kind]=$(paste -d ' ' <(printf '%s\n' ${times[run]}) <(printf '%s\n' ${times[$kind]}) |
      awk '{printf "%.4f\n", $1 / $2}' | median)
  done
}

# One line: the program's median against each yardstick, with the ratio program / yardstick.
report() {
  local label=$1 per=$2
  local line
  line=$(printf '%-26s run %8.3f s' "$label" "${med[run]}")
  [ -n "$previous" ] && line+=$(printf ' | previous %8.3f s, %.2fx' "${med[previous]}" "${ratio[previous]}")
  line+=$(printf ' | floor %8.3f s, %.2fx | durable floor %8.3f s, %.2fx' \
    "${med[floor]}" "${ratio[floor]}" "${med[durable]}" "${ratio[durable]}")
  [ -n "$undo_off" ] && line+=$(printf ' | undo record off %8.3f s, %.2fx' "${med[undo_off]}" "${ratio[undo_off]}")
  [ -n "$per" ] && line+=" | $per"
  echo "$line | peak ${peak[run]} MB"
}

declare -A perbundle summary
run_args=(updateDescriptionsFromHtml=true exitStatusMode=PassedIncomplete "$work/lib")
floor_args=(bundles "$work/install" "$work/lib")
# The main job keeps its undo record (the default); it is timed without one too.
undo_off=1
prepare() { rm -rf "$work/lib" "$work/install/undo runs" && cp -a "$work/master" "$work/lib"; }
for n in "${sizes[@]}"; do
  # A patched bundle takes about 2.7 MB (its assets): say so rather than fill the disk half way.
  need=$((n * 3)) have=$(($(df -k --output=avail "$work" | tail -n 1) / 1024))
  if ((have < need)); then
    echo "main job N=$n: skipped, it needs about $need MB free in $work and there are $have MB" \
      "(bench/image.sh down, then QUARVEL_BENCH_IMAGE_GIB=$((need / 1024 + 2)) bench/image.sh up, makes room)" >&2
    continue
  fi
  "$bin/quarvel-bench-gen" courses "$work/master" "$n"
  r=$reps
  [ "$n" -ge 5000 ] && r=1
  compare "$r"
  rm -rf "$work/lib" "$work/master"
  perbundle[$n]=$(awk -v a="${med[run]}" -v n="$n" 'BEGIN {printf "%.2f", a * 1000 / n}')
  report "main job N=$n" "${perbundle[$n]} ms/bundle"
  summary[$n]=$(printf '%.2fx floor, %.2fx durable floor, %.2fx without the undo record' "${ratio[floor]}" \
    "${ratio[durable]}" "${ratio[undo_off]}")
  [ -n "$previous" ] && summary[$n]+=$(printf ', %.2fx previous' "${ratio[previous]}")
  summary[$n]+=", ${perbundle[$n]} ms/bundle, peak ${peak[run]} MB"
done

# VOD job: 1000 videos, once each.
undo_off=
"$bin/quarvel-bench-gen" videos "$work/videos" 1000
run_args=(createVodPackages=true "$work/videos")
floor_args=(vod "$work/install" "$work/videos" "$work/floor-packages")
prepare() { rm -rf "$work/install/vod packages" "$work/floor-packages"; }
compare 1
report "VOD job 1000 videos" ""

# Spreadsheet conversion: 100 000 rows, against reading and writing the same bytes, once each.
run_args=(updateFromSpreadsheet=true)
floor_args=(copy "$work/install/spreadsheet.txt" "$work/sheet-copy")
prepare() { :; }
compare 1
report "spreadsheet 100000 rows" ""

growth="n/a"
if [ -n "${perbundle[5000]:-}" ]; then
  growth=$(awk -v a="${perbundle[100]}" -v b="${perbundle[5000]}" 'BEGIN {printf "%+.0f%%", (b - a) * 100 / a}')
fi
[ -n "${summary[$summary_n]:-}" ] || summary_n=${sizes[-1]}
echo "main job at N=$summary_n: ${summary[$summary_n]}, time per bundle N=100 to N=5000: $growth"
