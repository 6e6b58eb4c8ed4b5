#!/usr/bin/env bash
# Builds with clang, AddressSanitizer and UndefinedBehaviorSanitizer into
# build-asan/, runs the tests there, then each fuzz target for a while.
# usage: scripts/sanitize.sh [FUZZ_SECONDS]   (default 60 s per target; 0 skips fuzzing)
#
# To fit the CI's time, this stage builds and runs what handles input from
# outside (server bytes, messages, rules, files, the command line): every test
# but those of the windowed program (label "window"), the demo and the package
# (labels "demo", "package"), and the whole-program runs against the test server
# that the client, engine and sign-in tests already cover (vellumcast-cli's
# formats, fault walks and OAuth 2.0 sign-in, the test server's own checks and
# its script's link check).
# SANITIZE_ALL=1 builds and runs everything.
set -euo pipefail
cd "$(dirname "$0")/.."
seconds=${1:-60}
start=$SECONDS
launcher=()
command -v ccache >/dev/null && launcher=(-DCMAKE_CXX_COMPILER_LAUNCHER=ccache)
# Line tables only: a sanitizer report still names file and line, and the
# build takes far less time than with full debug information; -O1, as the
# sanitizers' own guides advise, builds faster again.
cmake -S . -B build-asan -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DCMAKE_CXX_COMPILER=clang++ \
  -DCMAKE_CXX_FLAGS_RELWITHDEBINFO='-O1 -gline-tables-only -DNDEBUG' \
  -DVC_SANITIZE=address,undefined -DVC_FUZZ=ON "${launcher[@]}" >/dev/null
filter=()
targets=()
if [ "${SANITIZE_ALL:-0}" != 1 ]; then
  filter=(-LE '^(window|demo|package)$' -E '^(test_cli_server|test_cli_walk_faults|test_cli_oauth|test_cli_oauth_keyring|test_test_server|test_server_foreign_link)$')
  # A test's program is the target of its name (a fuzz target's seed test is
  # TARGET_seeds); tests that run a script have none.
  mapfile -t targets < <(cd build-asan && ctest -N "${filter[@]}" | sed -n 's/^ *Test *#[0-9]*: //p' |
    sed 's/_seeds$//' | sort -u | comm -12 - <(ninja -t targets all | sed -n 's/: phony$//p' | sort -u))
  [ ${#targets[@]} -gt 0 ] || { echo "sanitize.sh: no tests selected" >&2; exit 1; }
  # The windowed program too, untested here: all of the program builds with clang.
  targets=(--target "${targets[@]}" vellumcast)
fi
cmake --build build-asan --parallel "$(nproc)" "${targets[@]}"
echo "== sanitizer build: $((SECONDS - start)) s"
# Qt and GLib keep caches until exit on purpose; leaks are not what this run looks for.
export ASAN_OPTIONS=detect_leaks=0:abort_on_error=1:strict_string_checks=1
export UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1
mark=$SECONDS
# Two at a time, as in the plain run: the resource locks keep shared mailboxes apart.
(cd build-asan && ctest --output-on-failure --timeout 600 -j2 "${filter[@]}")
echo "== sanitizer tests: $((SECONDS - mark)) s"
if [ "$seconds" -gt 0 ]; then
  mark=$SECONDS
  bash tests/fuzz/run.sh build-asan "$seconds"
  echo "== fuzzing: $((SECONDS - mark)) s"
fi
