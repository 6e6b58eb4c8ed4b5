#!/usr/bin/env bash
# Installs what is missing, builds, and opens the demo: a throw-away IMAP server with
# the demo mailbox and the window signed in to it (without a display: a few
# extractions by vellumcast-cli). Arguments go to the window program (e.g. --timeout 20).
# Your own account: build/bin/vellumcast (see README.md).
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/install-deps.sh
bash scripts/build.sh
exec bash scripts/demo.sh "$@"
