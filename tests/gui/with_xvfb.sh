#!/usr/bin/env bash
# with_xvfb.sh COMMAND [ARG...] — runs a command on an X server of its own,
# so that tests which need a display run where there is none. Exits 77
# (skipped) when Xvfb is missing, else with the command's status.
set -u
command -v Xvfb >/dev/null || { echo "with_xvfb: Xvfb is missing; skipped"; exit 77; }
work=$(mktemp -d)
Xvfb -displayfd 3 -nolisten tcp -screen 0 1024x768x24 3>"$work/display" 2>"$work/xvfb.log" &
xvfb=$!
trap 'kill "$xvfb" 2>/dev/null; wait "$xvfb" 2>/dev/null; rm -rf "$work"' EXIT
for _ in $(seq 100); do [ -s "$work/display" ] && break; sleep 0.1; done
[ -s "$work/display" ] || { echo "with_xvfb: Xvfb did not start"; cat "$work/xvfb.log"; exit 1; }
export DISPLAY=":$(head -1 "$work/display")"
"$@"
