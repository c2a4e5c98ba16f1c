#!/usr/bin/env bash
# Builds Quarvel twice (plain, and with AddressSanitizer and UndefinedBehaviorSanitizer)
# with warnings as errors, and runs the whole test suite on both builds.
# Every stage prints its time ("stage build: 123 s"); the end repeats all stage
# times and the closing lines of each ctest run, also when a stage fails.
set -euo pipefail
cd "$(dirname "$0")/.."
jobs=$(nproc)
logs=$(mktemp -d)
trap 'rm -rf "$logs"' EXIT
times=() ctest_runs=()

summary() {
  echo "=== summary"
  printf '%s\n' "${times[@]}"
  local name
  for name in "${ctest_runs[@]}"; do
    echo "--- $name: closing lines"
    # ctest's own closing lines: the pass count, label times, failed tests.
    sed -n '/tests passed, .* tests failed out of/,$p' "$logs/$name.log"
  done
}

# stage NAME COMMAND [ARG ...]: runs one stage, times it, stops the script when it fails.
# A stage is one command or a function whose steps are chained with &&.
stage() {
  local name=$1 start=$SECONDS status=0
  shift
  echo "=== stage $name"
  "$@" || status=$?
  local line="stage $name: $((SECONDS - start)) s"
  ((status == 0)) || line+=" (failed, exit status $status)"
  echo "$line"
  times+=("$line")
  if ((status != 0)); then
    summary
    exit "$status"
  fi
}

# run_ctest NAME BUILD_DIR [CTEST ARG ...]: the output is also kept for the summary.
run_ctest() {
  local name=$1 dir=$2
  shift 2
  ctest_runs+=("$name")
  (cd "$dir" && ctest --output-on-failure -j "$jobs" "$@") 2>&1 | tee "$logs/$name.log"
}

configure_plain() {
  cmake -S . -B build -G Ninja -DQUARVEL_WARNINGS_AS_ERRORS=ON >/dev/null &&
    cmake --build build --target check-format
}
build_plain() { cmake --build build -j "$jobs"; }
build_sanitize() {
  cmake -S . -B build-sanitize -G Ninja -DQUARVEL_WARNINGS_AS_ERRORS=ON -DQUARVEL_SANITIZE=ON \
    -DCMAKE_BUILD_TYPE=Debug >/dev/null &&
    cmake --build build-sanitize -j "$jobs"
}
# The Windows build under Wine: its unit tests, the desktop program's dialogs,
# the installer, and the same bytes as the Linux build above.
windows_checks() {
  tools/windows.sh &&
    { [ ! -x tests/win/run.sh ] || tests/win/run.sh build-windows; } &&
    { [ ! -x tests/windows/run.sh ] || tests/windows/run.sh build-windows build; }
}
ctest_sanitize() {
  ASAN_OPTIONS=detect_leaks=1 LSAN_OPTIONS="suppressions=$PWD/tools/lsan.supp:print_suppressions=0" \
    UBSAN_OPTIONS=print_stacktrace=1 run_ctest ctest-sanitize build-sanitize -LE "reliability|e2e|crash"
}

stage deps tools/install-deps.sh
stage configure configure_plain
stage build build_plain
stage ctest run_ctest ctest build -LE crash
[ ! -x tools/windows.sh ] || stage windows windows_checks
# Crash images need loop devices and mounts: root only (CI runs as root).
if [ -x tools/crash-test.sh ]; then
  if [ "$(id -u)" -eq 0 ]; then
    stage crash tools/crash-test.sh build
  else
    times+=("stage crash: skipped (needs root)")
  fi
fi
stage build-sanitize build_sanitize
stage ctest-sanitize ctest_sanitize
# Each fuzz target for a short while (the saved corpus is replayed by both ctest runs above).
stage fuzz tools/fuzz.sh "${QUARVEL_FUZZ_SECONDS:-15}"
summary
