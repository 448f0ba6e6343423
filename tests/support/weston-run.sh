#!/usr/bin/env bash
# Runs a command as a client of a headless Wayland compositor of its own:  weston-run.sh CMD...
set -euo pipefail
runtime="$(mktemp -d)"
chmod 700 "$runtime"
socket="wayland-batchmp3-$$"
XDG_RUNTIME_DIR="$runtime" weston --backend=headless-backend.so --socket="$socket" \
    --idle-time=0 --no-config >"$runtime/weston.log" 2>&1 &
weston=$!
trap 'kill "$weston" 2>/dev/null; wait "$weston" 2>/dev/null; rm -rf "$runtime"' EXIT
for _ in $(seq 100); do
    [ -S "$runtime/$socket" ] && break
    sleep 0.1
done
[ -S "$runtime/$socket" ] || { cat "$runtime/weston.log"; exit 1; }
env -u DISPLAY XDG_RUNTIME_DIR="$runtime" WAYLAND_DISPLAY="$socket" QT_QPA_PLATFORM=wayland "$@"
