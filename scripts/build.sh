#!/usr/bin/env bash
# Configures and builds into build/ (programs land in build/bin/), or into the
# folder VC_BUILD_DIR names.
set -euo pipefail
cd "$(dirname "$0")/.."
out=${VC_BUILD_DIR:-build}
launcher=()
# A compiler cache, when the machine has one, makes rebuilds of unchanged code free.
command -v ccache >/dev/null && launcher=(-DCMAKE_CXX_COMPILER_LAUNCHER=ccache)
# Optimised, with line tables and call frames (enough for profilers and
# backtraces) but without the variables' debug information, which would take a
# third longer to build; a Debug build has it all.
cmake -S . -B "$out" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DCMAKE_CXX_FLAGS_RELWITHDEBINFO='-O2 -g1 -DNDEBUG' \
  "${launcher[@]}" >/dev/null
cmake --build "$out" --parallel "$(nproc)"
