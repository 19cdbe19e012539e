#!/usr/bin/env bash
# Sets up, builds and starts the broadcast server without a window.
# Usage: scripts/run.sh [halvora options...]
# With no options it broadcasts from the first camera, or, on a machine without
# a camera, from the test pattern and the test tone, on port 8080.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/install-deps.sh
cmake -S . -B build -DCMAKE_BUILD_TYPE=RelWithDebInfo > /dev/null
cmake --build build -j2 --target halvora fennick divxx

# Register the video codec and the default settings (idempotent).
./build/fennick

if [ $# -eq 0 ]; then
  set -- --port 8080 --camera 0
  if ! ls /dev/video* > /dev/null 2>&1; then
    echo "No camera found: broadcasting the test pattern and the test tone."
    set -- "$@" --test-pattern --test-tone
  fi
fi

# Ports below 1024 need a privilege: grant it to the built binary when we can.
if [ "$(id -u)" -eq 0 ] && command -v setcap > /dev/null; then
  setcap cap_net_bind_service=+ep build/halvora 2>/dev/null || true
fi
exec ./build/halvora --headless "$@"
