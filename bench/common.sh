# Sourced by the benchmark scripts that count what reaches the disk.

# bench_build SOURCE BUILD TARGET...: a Release build without the desktop program or tests.
bench_build() {
  local source=$1 dir=$2
  shift 2
  CCACHE_BASEDIR="$source" CCACHE_NOHASHDIR=true cmake -S "$source" -B "$dir" -G Ninja -DCMAKE_BUILD_TYPE=Release \
    -DQUARVEL_BUILD_GUI=OFF -DBUILD_TESTING=OFF >/dev/null
  CCACHE_BASEDIR="$source" CCACHE_NOHASHDIR=true nice cmake --build "$dir" -j2 --target "$@" >/dev/null
}

# device_stat FOLDER: the kernel's counters file of the block device holding FOLDER
# (a whole disk or a partition alike), or nothing when it has none (tmpfs, overlay).
device_stat() {
  local source
  source=$(findmnt -n -o SOURCE --target "$1" 2>/dev/null || true)
  local file="/sys/class/block/${source##*/}/stat"
  if [ -r "$file" ]; then echo "$file"; fi
}

# sectors_written STAT: the device's 512-byte sectors written since boot (7th field).
sectors_written() {
  if [ -n "$1" ]; then awk '{print $7}' "$1"; else echo 0; fi
}

# measure cold|warm STAT CMD...: runs CMD after a sync (and, for cold, a dropped page
# cache), then syncs again, so that the write-back of what CMD wrote counts for it.
# Prints "seconds device_MB process_MB cpu_seconds": the time including the final
# sync, what the device wrote over that time, what the process wrote (write_bytes,
# which the kernel reports to the parent as ru_oublock in 512-byte units;
# /usr/bin/time's %O, its threads included) and its user and system time, which
# other work on the machine moves less than the elapsed time. The exit status is left in $work/status, its output in
# $work/stdout and $work/stderr.
measure() {
  local cache=$1 stat=$2
  shift 2
  sync
  if [ "$cache" = cold ]; then echo 3 >/proc/sys/vm/drop_caches; fi
  local s0 s1 t0 t1 status=0
  s0=$(sectors_written "$stat")
  t0=$(date +%s%N)
  /usr/bin/time -f '%O %U %S' -o "$work/io" "$@" >"$work/stdout" 2>"$work/stderr" || status=$?
  sync
  t1=$(date +%s%N)
  s1=$(sectors_written "$stat")
  echo "$status" >"$work/status"
  tail -n 1 "$work/io" | awk -v a="$t0" -v b="$t1" -v s="$((s1 - s0))" \
    '{printf "%.3f %.2f %.2f %.2f\n", (b - a) / 1e9, s * 512 / 1e6, $1 * 512 / 1e6, $2 + $3}'
}

# median: the median of the numbers on standard input.
median() { sort -g | awk '{v[NR]=$1} END {print NR % 2 ? v[(NR+1)/2] : (v[NR/2] + v[NR/2+1]) / 2}'; }
