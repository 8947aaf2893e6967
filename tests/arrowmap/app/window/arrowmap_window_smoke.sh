#!/usr/bin/env bash
# The real arrowmap on a display, driven from outside with xdotool: it shows its main
# window and the About form, closes the About form, then Exit ends it with status 0.
set -uo pipefail
program=${1:?arrowmap binary}
start=$(date +%s%N)
"$program" &
pid=$!
trap 'kill "$pid" 2>/dev/null' EXIT
main=$(timeout 10 xdotool search --sync --onlyvisible --name '^Arrowmap$' | head -1)
[ -n "$main" ] || { echo "no main window"; exit 1; }
echo "main window after $(( ($(date +%s%N) - start) / 1000000 )) ms"
about=$(timeout 10 xdotool search --sync --onlyvisible --name '^About$' | head -1)
[ -n "$about" ] || { echo "no About form"; exit 1; }
xdotool key --window "$about" Escape 2>/dev/null
for _ in $(seq 1 50); do
  xdotool search --onlyvisible --name '^About$' >/dev/null 2>&1 || break
  sleep 0.1
done
# Exit sits in the lower right corner of the control column.
xdotool mousemove --window "$main" 832 636 click 1
for _ in $(seq 1 50); do
  kill -0 "$pid" 2>/dev/null || break
  sleep 0.1
done
wait "$pid"
status=$?
trap - EXIT
[ "$status" -eq 0 ] || { echo "exit status $status"; exit 1; }
echo "closed with status 0"
