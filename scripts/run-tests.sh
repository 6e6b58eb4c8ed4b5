#!/usr/bin/env bash
# Installs what is missing, builds, and runs every test through CTest
# (the test IMAP server is started and stopped by the tests' own fixture).
# The build goes to build/, or to the folder VC_BUILD_DIR names (anywhere: the
# tests find the programs through CMake). Arguments go to ctest.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/install-deps.sh
bash scripts/build.sh
cd "${VC_BUILD_DIR:-build}"
# Two at a time: the tests that share the test server's mailboxes or the virtual
# display take turns through their CTest resource locks.
ctest --output-on-failure --timeout 300 -j2 "$@"
