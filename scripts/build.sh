#!/usr/bin/env bash
# Configures and builds into build/ (programs land in build/bin/), or into the
# folder VC_BUILD_DIR names.
set -euo pipefail
cd "$(dirname "$0")/.."
out=${VC_BUILD_DIR:-build}
launcher=()
# A compiler cache, when the machine has one, makes rebuilds of unchanged code free.
command -v ccache >/dev/null && launcher=(-DCMAKE_CXX_COMPILER_LAUNCHER=ccache)
cmake -S . -B "$out" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo "${launcher[@]}" >/dev/null
cmake --build "$out" --parallel "$(nproc)"
