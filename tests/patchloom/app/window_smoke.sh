#!/usr/bin/env bash
# The real program on a display: its main window appears, File > Exit from the keyboard
# closes it, and it ends with status 0.
set -uo pipefail
program=$1
"$program" &
pid=$!
trap 'kill "$pid" 2>/dev/null' EXIT
id=$(timeout 10 xdotool search --sync --name '^Patchloom$' | head -1)
[ -n "$id" ] || { echo "no Patchloom window"; exit 1; }
xdotool windowfocus --sync "$id"
xdotool key alt+f
sleep 0.3
xdotool key x
for _ in $(seq 1 50); do
  kill -0 "$pid" 2>/dev/null || break
  sleep 0.1
done
if kill -0 "$pid" 2>/dev/null; then
  echo "Patchloom still runs after File > Exit"
  exit 1
fi
wait "$pid"
