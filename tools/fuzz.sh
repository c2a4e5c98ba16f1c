#!/usr/bin/env bash
# Builds the fuzz targets with clang's libFuzzer (+ ASan, UBSan) and runs each
# for SECONDS (default 20), starting from the saved corpus with its dictionary.
# Prints the runs per target; a crash stops the script with the input saved.
set -euo pipefail
cd "$(dirname "$0")/.."
seconds="${1:-20}"
command -v clang++-14 >/dev/null || { echo "clang++-14 is needed (apt-get install clang-14 libclang-rt-14-dev)"; exit 1; }
CC=clang-14 CXX=clang++-14 cmake -S . -B build-fuzz -G Ninja -DQUARVEL_FUZZ=ON -DQUARVEL_BUILD_GUI=OFF \
  -DBUILD_TESTING=OFF -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
targets=$(cat fuzz/targets.txt)
cmake --build build-fuzz -j "$(nproc)" --target $(printf 'fuzz_%s ' $targets) >/dev/null
work=$(mktemp -d)
for t in $targets; do
  mkdir -p "$work/$t" "build-fuzz/crashes/$t"
  cp fuzz/corpus/"$t"/* "$work/$t/"
  out=$(build-fuzz/bin/fuzz_"$t" "$work/$t" -dict=fuzz/dict/"$t".dict -max_total_time="$seconds" -max_len=65536 \
        -rss_limit_mb=4096 -artifact_prefix="build-fuzz/crashes/$t/" -print_final_stats=1 2>&1) || {
    echo "$out" | tail -40; echo "fuzz target $t failed; input saved in build-fuzz/crashes/$t/"; exit 1; }
  runs=$(echo "$out" | sed -n 's/^stat::number_of_executed_units: *//p')
  echo "fuzz_$t: $runs runs in ${seconds}s, corpus $(ls "$work/$t" | wc -l) inputs, no failure"
done
rm -rf "$work"
