#!/usr/bin/env bash
# Runs a test program inside a private D-Bus session with an unlocked
# gnome-keyring providing the Secret Service; its files live in a throw-away home.
set -euo pipefail
home=$(mktemp -d)
trap 'rm -rf "$home"' EXIT
export HOME=$home XDG_DATA_HOME=$home/.local/share XDG_RUNTIME_DIR=$home/run
mkdir -p "$XDG_RUNTIME_DIR" && chmod 700 "$XDG_RUNTIME_DIR"
exec dbus-run-session -- bash -c '
    printf "throw-away" | gnome-keyring-daemon --unlock --components=secrets >/dev/null
    exec "$@"' keyring "$@"
