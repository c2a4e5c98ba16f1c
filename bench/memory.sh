#!/bin/bash
# Peak memory of one run over one large input, for each of: a 1 GB
# interface.xml, a 200 MB spreadsheet export, a 670 MB description catalogue.
#
#   bench/memory.sh                 # a Release quarvel-batch built in build-bench/
#   bench/memory.sh --bin DIR       # the quarvel-batch and quarvel-bench-gen in DIR
#
# Each row generates its input in a work folder (QUARVEL_BENCH_DIR, default
# /var/tmp), runs quarvel-batch once under /usr/bin/time and prints its
# maximum resident set. The target is at most 256 MB for each.
set -euo pipefail
cd "$(dirname "$0")/.."
bin=""
while (($#)); do
  case $1 in
    --bin) bin=$(realpath "${2:?--bin needs a folder}"); shift ;;
    *) echo "usage: bench/memory.sh [--bin DIR]" >&2; exit 2 ;;
  esac
  shift
done
if [ -z "$bin" ]; then
  CCACHE_BASEDIR="$PWD" CCACHE_NOHASHDIR=true cmake -S . -B build-bench -G Ninja -DCMAKE_BUILD_TYPE=Release \
    -DQUARVEL_BUILD_GUI=OFF -DBUILD_TESTING=OFF >/dev/null
  CCACHE_BASEDIR="$PWD" CCACHE_NOHASHDIR=true cmake --build build-bench --target quarvel-batch quarvel-bench-gen >/dev/null
  bin="$PWD/build-bench/bin"
fi

work=$(mktemp -d "${QUARVEL_BENCH_DIR:-/var/tmp}/quarvel-memory.XXXXXX")
trap 'rm -rf "$work"' EXIT
"$bin/quarvel-bench-gen" install "$work/install" 0 0 0
printf 'NB Path=%s\n' "$work/install" >"$work/quarvel.conf"
export QUARVEL_CONFIG="$work/quarvel.conf"

# Lines of about `width` bytes until the output holds `mb` megabytes; `format`
# is a printf format taking the line's number and its filler.
filler() {
  awk -v mb="$1" -v width="$2" -v format="$3" 'BEGIN {
    for (pad = ""; length(pad) < width;) pad = pad "x"
    for (n = 0; total < mb * 1048576; ++n) { line = sprintf(format, n, pad); printf "%s", line; total += length(line) }
  }'
}

# Prints the row: the input's size and the run's peak resident set.
row() {
  local name=$1 input=$2
  shift 2
  local peak
  /usr/bin/time -o "$work/peak" -f '%M' "$bin/quarvel-batch" "$@" >"$work/out" 2>&1 || cat "$work/out" >&2
  peak=$(tail -n 1 "$work/peak")
  printf '%-34s %6d MB input   peak %5d MB\n' "$name" $(($(stat -c %s "$input") / 1048576)) $((peak / 1024))
}

# A bundle whose interface.xml holds 1 GB: the generated file with lines of
# course text in front of its last line, half of them with CR LF.
"$bin/quarvel-bench-gen" courses "$work/library" 1
settings="$work/library/course0000/xml/interface.xml"
last=$(tail -n 1 "$settings")
head -n -1 "$settings" >"$work/head.xml"
{
  cat "$work/head.xml"
  filler 1024 100 '\t<Text id="%d">%s</Text>\r\n'
  printf '%s\n' "$last"
} >"$settings"
row "interface.xml 1 GB" "$settings" "$work/library"
rm -rf "$work/library" "$work/head.xml"

# A spreadsheet export of 200 MB: a header line, then rows with two bullet lines each.
{
  printf 'Course title\tSubtitle\tCourse key\tVOD key\tProduct code\tIntro\r\n'
  filler 200 60 'Course\tPart one\tcourse_int_%d\tvid\tPC\tLearn, (really) learn %s\r\n  - first point\r\n  - second, with a comma\r\n'
} >"$work/install/spreadsheet.txt"
row "spreadsheet export 200 MB" "$work/install/spreadsheet.txt" updateFromSpreadsheet=true
rm -f "$work/install/spreadsheet.txt"

# A description catalogue of 670 MB, looked up by a library of 20 bundles.
filler 670 660 'course_int_%d\t<p>%s</p>\r\n' >"$work/install/HTML course descriptions.txt"
"$bin/quarvel-bench-gen" courses "$work/library" 20
row "description catalogue 670 MB" "$work/install/HTML course descriptions.txt" updateDescriptionsFromHtml=true \
  "$work/library"
