#!/usr/bin/env bash
# web_test.sh — worlds from the web in a real window, on an X server and a
# web server of the test's own: an http URL typed into the location bar
# opens its world, a click follows its anchor to another world on the
# server, Back and Forward show them again from the cache, Reload fetches
# the world again, a fetch that fails
# leaves the shown world with the reason in the messages, and Stop ends a
# fetch from a server that never answers.
#
#   web_test.sh QUILLMOOR_EXE SOURCE_DIR
#
# Exits 77 (skipped) when Xvfb, xdotool, xwd, xwininfo or python3 is missing.
set -u
exe=$1
src=$2
here=$(cd "$(dirname "$0")" && pwd)
name=web_test
tools="Xvfb xdotool xwd xwininfo python3"
pids="qm_pid web_pid xvfb_pid"
. "$here/gui.sh"
# QM_WEB_DEBUG=PATH keeps the screen as it was at a failure.
report_failure() {
  [ -n "${QM_WEB_DEBUG:-}" ] && snap "$QM_WEB_DEBUG.xwd"
  fail "$@"
}

python3 "$src/tests/support/httpserver.py" "$src/tests/data/web" "$work/port" >/dev/null 2>&1 &
web_pid=$!
for _ in $(seq 100); do [ -s "$work/port" ] && break; sleep 0.1; done
[ -s "$work/port" ] || fail "the web server did not start"
web="http://127.0.0.1:$(cat "$work/port")"

start_xvfb
export QUILLMOOR_FETCH_LIMITS=5:30:1048576

"$exe" >"$work/qm.log" 2>&1 &
qm_pid=$!
win=$(timeout 20 xdotool search --sync --class Quillmoor 2>/dev/null | head -1)
[ -n "$win" ] || report_failure "no Quillmoor window appeared"

# The lowest quarter of the view, which the Messages window leaves free.
same_low() { pic same "$1" "$2" "$vx" $((vy + vh * 3 / 4)) "$vw" $((vh / 4)); }
for _ in $(seq 40); do layout 2>/dev/null; [ -n "${vw:-}" ] && break; sleep 0.25; done
[ -n "${vw:-}" ] || report_failure "the window has no view"
xdotool windowfocus --sync "$win" 2>/dev/null

open_typed() {
  xdotool mousemove $((lx + lw - 20)) $((ly + lh / 2)) click 1
  sleep 0.3
  xdotool key ctrl+a
  xdotool type --delay 10 "$1"
  xdotool key Return
}
settle() {  # waits for two equal, coloured pictures of the view in a row
  snap "$1"
  for _ in $(seq 60); do
    sleep 0.25
    snap "$work/settle.xwd"
    [ "$(same_view "$1" "$work/settle.xwd")" = 1 ] && [ "$(view_colours "$1")" -gt 1 ] && return 0
    cp "$work/settle.xwd" "$1"
  done
  return 1
}
wait_for() {  # wait_for WANT REFERENCE: the view equal (1) or not (0) to it
  for _ in $(seq 60); do
    sleep 0.25
    snap "$work/now.xwd"
    [ "$(same_view "$2" "$work/now.xwd")" = "$1" ] && return 0
  done
  return 1
}

snap "$work/empty.xwd"
open_typed "$web/files/gate.wrl"
wait_for 0 "$work/empty.xwd" || report_failure "typing an http URL showed nothing"
settle "$work/gate.xwd" || report_failure "the gate from the web did not settle: $(view_colours "$work/gate.xwd") colours, $(cat "$work/qm.log")"
grep -q "not read\|cannot be" "$work/qm.log" && report_failure "the gate was not read"

# The gate's anchor leads to the world beside it on the server, with its
# inline, textures and script.
xdotool mousemove $((vx + vw / 2)) $((vy + vh / 2)) click 1
wait_for 0 "$work/gate.xwd" || report_failure "a click on the gate did not follow its anchor"
settle "$work/world.xwd" || report_failure "the world behind the gate did not settle"
[ "$(pic red "$work/world.xwd" "$vx" "$vy" "$vw" "$vh")" -gt 20 ] || report_failure "the world's script did not paint its ball"

read -r bx by < <(button button 0)
xdotool mousemove "$bx" "$by" click 1
wait_for 1 "$work/gate.xwd" || report_failure "Back did not show the gate from the cache"
read -r fx fy < <(button button 1)
xdotool mousemove "$fx" "$fy" click 1
wait_for 1 "$work/world.xwd" || report_failure "Forward did not show the world from the cache"

# Reload fetches the world again from the server and shows it as it was.
requests() { python3 -c "import urllib.request; print(urllib.request.urlopen('$web/count').read().split()[0].decode())"; }
before=$(requests)
xdotool mousemove $((vx + vw / 2)) $((vy + 5))
xdotool key F5
reloaded=0
for _ in $(seq 40); do
  sleep 0.25
  [ "$(requests)" -gt $((before + 1)) ] && { reloaded=1; break; }
done
[ "$reloaded" -eq 1 ] || report_failure "Reload fetched nothing"
settle "$work/reload.xwd" || report_failure "the reloaded world did not settle"
[ "$(same_view "$work/world.xwd" "$work/reload.xwd")" = 1 ] || report_failure "the reloaded world looks otherwise"
xdotool mousemove "$bx" "$by" click 1
wait_for 1 "$work/gate.xwd" || report_failure "Back after Reload did not show the gate"

# A fetch that fails leaves the gate shown and says why.
open_typed "$web/404.wrl"
sleep 1.5
grep -q "404.wrl : the server answered 404" "$work/qm.log" || report_failure "the failed fetch gave no reason"
snap "$work/after404.xwd"
[ "$(same_low "$work/gate.xwd" "$work/after404.xwd")" = 1 ] || report_failure "a failed fetch took the gate away"

# The Messages window that told it goes, so the location bar is free.
msgs=$(xdotool search --name '^Messages$' 2>/dev/null | head -1)
[ -n "$msgs" ] || report_failure "the reason did not reach the Messages window"
xdotool windowunmap --sync "$msgs" 2>/dev/null
sleep 0.3
snap "$work/gate2.xwd"

# A server that never answers: Loading counts in the view until Stop.
open_typed "$web/silent/x.wrl"
fetching=0
for _ in $(seq 40); do
  sleep 0.25
  snap "$work/now.xwd"
  [ "$(same_view "$work/gate2.xwd" "$work/now.xwd")" = 0 ] && { fetching=1; break; }
done
[ "$fetching" -eq 1 ] || report_failure "fetching did not show its count"
read -r sx sy < <(button button 7)
xdotool mousemove "$sx" "$sy" click 1
stopped=0
for _ in $(seq 40); do
  sleep 0.25
  snap "$work/now.xwd"
  [ "$(same_low "$work/gate.xwd" "$work/now.xwd")" = 1 ] && { stopped=1; break; }
done
[ "$stopped" -eq 1 ] || report_failure "Stop did not bring the gate back"
grep -q "silent/x.wrl : stopped" "$work/qm.log" || report_failure "Stop said nothing"

kill -0 "$qm_pid" 2>/dev/null || report_failure "the browser ended early"
xdotool windowclose "$win" 2>/dev/null
for _ in $(seq 40); do kill -0 "$qm_pid" 2>/dev/null || break; sleep 0.25; done
kill -0 "$qm_pid" 2>/dev/null && report_failure "closing the window did not end the browser"
wait "$qm_pid"
status=$?
qm_pid=
[ "$status" -eq 0 ] || report_failure "the browser ended with $status"
echo "web_test: passed in ${SECONDS}s"
