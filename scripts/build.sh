#!/usr/bin/env bash
# Configures and builds into build/ (programs land in build/bin/).
set -euo pipefail
cd "$(dirname "$0")/.."
launcher=()
# A compiler cache, when the machine has one, makes rebuilds of unchanged code free.
command -v ccache >/dev/null && launcher=(-DCMAKE_CXX_COMPILER_LAUNCHER=ccache)
cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo "${launcher[@]}" >/dev/null
cmake --build build --parallel "$(nproc)"
