#!/usr/bin/env bash
# The benchmark: quarvel-batch against the physical floor of the same file I/O.
#   bench/run.sh            N = 100, 1000, 5000 (about ten minutes on 2 cores)
#   bench/run.sh quick      N = 100 and 1000 only, fewer repetitions
set -euo pipefail
cd "$(dirname "$0")/.."
mode="${1:-full}"
build=build-bench
cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release -DQUARVEL_BUILD_GUI=OFF -DBUILD_TESTING=OFF >/dev/null
cmake --build "$build" --target quarvel-batch quarvel-bench-gen quarvel-bench-floor >/dev/null
bin="$PWD/$build/bin"
work="${QUARVEL_BENCH_DIR:-/tmp/quarvel-bench}"
rm -rf "$work"
mkdir -p "$work"
"$bin/quarvel-bench-gen" install "$work/install" 50000 1000 100000
printf 'NB Path=%s\n' "$work/install" >"$work/quarvel.conf"
export QUARVEL_CONFIG="$work/quarvel.conf"

now() { date +%s%N; }
median() { sort -g | awk '{v[NR]=$1} END {print v[int((NR+1)/2)]}'; }
# Runs a command and flushes what it wrote to the disk; prints "seconds peak_kb".
# Each timing starts from a flushed disk and, where allowed, a dropped page cache,
# and includes the final flush, so that write-back of one run never lands in another.
timed() {
  sync
  echo 3 >/proc/sys/vm/drop_caches 2>/dev/null || true
  local t0 t1
  t0=$(now)
  /usr/bin/time -f %M -o "$work/rss" "$@" >/dev/null 2>&1
  sync
  t1=$(now)
  echo "$(awk -v a="$t0" -v b="$t1" 'BEGIN {printf "%.4f", (b - a) / 1e9}') $(cat "$work/rss")"
}

declare -A ratio perbundle peak
summary_n=1000
sizes=(100 1000 5000)
reps=3
if [ "$mode" = quick ]; then sizes=(100 1000); reps=1; summary_n=1000; fi
for n in "${sizes[@]}"; do
  "$bin/quarvel-bench-gen" courses "$work/master" "$n"
  r=$reps
  [ "$n" -ge 5000 ] && r=1
  run_times=() floor_times=() rss=0
  for ((i = 0; i < r; i++)); do
    rm -rf "$work/lib" && cp -a "$work/master" "$work/lib"
    read -r t kb < <(timed "$bin/quarvel-batch" updateDescriptionsFromHtml=true exitStatusMode=PassedIncomplete "$work/lib")
    run_times+=("$t"); [ "$kb" -gt "$rss" ] && rss=$kb
    rm -rf "$work/lib" && cp -a "$work/master" "$work/lib"
    read -r t _ < <(timed "$bin/quarvel-bench-floor" bundles "$work/install" "$work/lib")
    floor_times+=("$t")
  done
  rm -rf "$work/lib" "$work/master"
  run=$(printf '%s\n' "${run_times[@]}" | median)
  floor=$(printf '%s\n' "${floor_times[@]}" | median)
  ratio[$n]=$(awk -v a="$run" -v b="$floor" 'BEGIN {printf "%.2f", a / b}')
  perbundle[$n]=$(awk -v a="$run" -v n="$n" 'BEGIN {printf "%.2f", a * 1000 / n}')
  peak[$n]=$((rss / 1024))
  printf 'main job N=%-5s run %8.3f s  floor %8.3f s  ratio %sx  %s ms/bundle  peak %s MB\n' \
    "$n" "$run" "$floor" "${ratio[$n]}" "${perbundle[$n]}" "${peak[$n]}"
done

# VOD job: 1000 videos.
"$bin/quarvel-bench-gen" videos "$work/videos" 1000
rm -rf "$work/install/vod packages"
read -r vod_run vod_kb < <(timed "$bin/quarvel-batch" createVodPackages=true "$work/videos")
rm -rf "$work/install/vod packages" "$work/floor-packages"
read -r vod_floor _ < <(timed "$bin/quarvel-bench-floor" vod "$work/install" "$work/videos" "$work/floor-packages")
printf 'VOD job 1000 videos: run %.3f s  floor %.3f s  ratio %.2fx  peak %s MB\n' "$vod_run" "$vod_floor" \
  "$(awk -v a="$vod_run" -v b="$vod_floor" 'BEGIN {print a / b}')" "$((vod_kb / 1024))"

# Spreadsheet conversion: 100 000 rows, against reading and writing the same bytes.
read -r sheet_run sheet_kb < <(timed "$bin/quarvel-batch" updateFromSpreadsheet=true)
read -r sheet_floor _ < <(timed "$bin/quarvel-bench-floor" copy "$work/install/spreadsheet.txt" "$work/sheet-copy")
printf 'spreadsheet 100000 rows: run %.3f s  floor %.3f s  ratio %.2fx  peak %s MB\n' "$sheet_run" "$sheet_floor" \
  "$(awk -v a="$sheet_run" -v b="$sheet_floor" 'BEGIN {print a / b}')" "$((sheet_kb / 1024))"

growth="n/a"
if [ -n "${perbundle[5000]:-}" ]; then
  growth=$(awk -v a="${perbundle[100]}" -v b="${perbundle[5000]}" 'BEGIN {printf "%+.0f%%", (b - a) * 100 / a}')
fi
echo "main job: ${ratio[$summary_n]}x floor at N=$summary_n, ${perbundle[$summary_n]} ms/bundle, peak ${peak[$summary_n]} MB, time per bundle N=100 to N=5000: $growth"
rm -rf "$work"
