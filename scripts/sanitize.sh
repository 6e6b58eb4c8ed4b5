#!/usr/bin/env bash
# Builds with clang, AddressSanitizer and UndefinedBehaviorSanitizer into
# build-asan/, runs every test there, then each fuzz target for a while.
# usage: scripts/sanitize.sh [FUZZ_SECONDS]   (default 60 s per target; 0 skips fuzzing)
set -euo pipefail
cd "$(dirname "$0")/.."
seconds=${1:-60}
launcher=()
command -v ccache >/dev/null && launcher=(-DCMAKE_CXX_COMPILER_LAUNCHER=ccache)
cmake -S . -B build-asan -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DCMAKE_CXX_COMPILER=clang++ \
  -DVC_SANITIZE=address,undefined -DVC_FUZZ=ON "${launcher[@]}" >/dev/null
cmake --build build-asan --parallel "$(nproc)"
# Qt and GLib keep caches until exit on purpose; leaks are not what this run looks for.
export ASAN_OPTIONS=detect_leaks=0:abort_on_error=1:strict_string_checks=1
export UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1
(cd build-asan && ctest --output-on-failure --timeout 600)
if [ "$seconds" -gt 0 ]; then
  bash tests/fuzz/run.sh build-asan "$seconds"
fi
