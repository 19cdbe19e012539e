#!/bin/bash
# Takes the viewer's screenshot for the docs: runs the headless server with the
# test pattern and the test tone, the viewer in its own window under Xvfb, sends
# one chat line, and saves the screen.
#
# Usage: tests/applet/viewer_screenshot.sh BUILD_DIR OUTPUT.png
# BUILD_DIR holds halvora, fennick, drivers/divxx.so and applet/client.jar.
set -euo pipefail
build=$(realpath "$1")
output=$(realpath -m "$2")
if [[ -z "${INSIDE_XVFB:-}" ]]; then
    INSIDE_XVFB=1 exec xvfb-run -a -s "-screen 0 402x465x24" "$0" "$@"
fi
work=$(mktemp -d)
trap 'kill $(jobs -p) 2>/dev/null || true; rm -rf "$work"' EXIT
port=$((20000 + RANDOM % 20000))
export XDG_CONFIG_HOME="$work/config" HALVORA_DRIVER_PATH="$build/drivers"
mkdir -p "$XDG_CONFIG_HOME" "$work/home"
"$build/fennick"
"$build/halvora" --headless --home "$work/home" --port "$port" --test-pattern --camera 0 --test-tone \
    > "$work/server.log" 2>&1 &
sleep 2
java -jar "$build/applet/client.jar" --address 127.0.0.1 --port "$port" --sound off > "$work/viewer.log" 2>&1 &
sleep 4
# "Hello from the viewer", every byte but digits escaped as the viewer sends it.
exec 3<>"/dev/tcp/127.0.0.1/$port"
printf 'GET /message?message=%%48%%65%%6C%%6C%%6F+%%66%%72%%6F%%6D+%%74%%68%%65+%%76%%69%%65%%77%%65%%72 HTTP/1.0\r\n\r\n' >&3
cat <&3 > /dev/null
exec 3<&-
sleep 4
import -window root "$output"
echo "saved $output"
