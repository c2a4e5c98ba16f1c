#!/usr/bin/env bash
# Builds Quarvel twice (plain, and with AddressSanitizer and UndefinedBehaviorSanitizer)
# with warnings as errors, and runs the whole test suite on both builds.
set -euo pipefail
cd "$(dirname "$0")/.."
tools/install-deps.sh
jobs=$(nproc)
cmake -S . -B build -G Ninja -DQUARVEL_WARNINGS_AS_ERRORS=ON >/dev/null
cmake --build build --target check-format
cmake --build build -j "$jobs"
(cd build && ctest --output-on-failure -j "$jobs")
cmake -S . -B build-sanitize -G Ninja -DQUARVEL_WARNINGS_AS_ERRORS=ON -DQUARVEL_SANITIZE=ON -DCMAKE_BUILD_TYPE=Debug >/dev/null
cmake --build build-sanitize -j "$jobs"
(cd build-sanitize && ASAN_OPTIONS=detect_leaks=1 UBSAN_OPTIONS=print_stacktrace=1 ctest --output-on-failure -j "$jobs" -LE "reliability|e2e")
# Each fuzz target for a short while (the saved corpus is replayed by both ctest runs above).
tools/fuzz.sh "${QUARVEL_FUZZ_SECONDS:-15}"
