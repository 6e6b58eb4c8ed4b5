#!/usr/bin/env bash
# Installs what is missing, builds, and starts Vellumcast. Arguments go to the program
# (e.g. --server imap.example.org:993 --ca-file my-ca.pem --no-online-check).
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/install-deps.sh
bash scripts/build.sh
exec build/bin/vellumcast "$@"
