#!/usr/bin/env bash
# Starts the real quiltbench without a command on the display, waits for its main window,
# opens and cancels the Single Image Synthesis dialog with keys, quits with Ctrl+Q and
# expects exit status 0.
set -euo pipefail
program=$1
"$program" &
pid=$!
trap 'kill "$pid" 2>/dev/null || true' EXIT
wid=$(timeout 10 xdotool search --sync --onlyvisible --name '^Quiltbench$' | head -1)
xdotool key --window "$wid" ctrl+i 2>/dev/null
dialog=$(timeout 10 xdotool search --sync --onlyvisible --name '^Single Image Synthesis$' | head -1)
# The window goes on the key press, so sending the release may fail; what counts is that
# the window went.
xdotool key --window "$dialog" Escape 2>/dev/null || true
gone=no
for _ in $(seq 1 100); do
  xdotool search --onlyvisible --name '^Single Image Synthesis$' >/dev/null 2>&1 || { gone=yes; break; }
  sleep 0.05
done
[ "$gone" = yes ] || { echo "the dialog did not close on Escape" >&2; exit 1; }
xdotool key --window "$wid" ctrl+q 2>/dev/null || true
status=0
timeout 10 tail --pid="$pid" -f /dev/null || { echo "quiltbench did not quit" >&2; exit 1; }
wait "$pid" || status=$?
trap - EXIT
echo "quiltbench exited with $status"
exit "$status"
