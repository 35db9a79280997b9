#!/usr/bin/env bash
# window_test.sh — the browser in a real window, on an X server of its own:
# the window opens on the welcome world and shows it, a second browser is
# refused, hovering shows a label, the arrow keys, the pad and drags walk,
# a path typed into the location bar opens that world, the Back button,
# the Go menu and Alt+Left move along the history, Home returns to the
# start, an anchor is followed, a collision flashes the frame, a shape the
# reader cannot dress costs only its message, a file that is no world leaves
# the shown one on screen, and closing the window ends the program cleanly.
#
#   window_test.sh QUILLMOOR_EXE SOURCE_DIR
#
# Exits 77 (skipped) when Xvfb, xdotool, xwd, xwininfo or python3 is missing. With
# QM_GUI_EXPECT_MOTION=1 the picture must change while Up is held.
set -u
exe=$1
src=$2
here=$(cd "$(dirname "$0")" && pwd)

name=window_test
tools="Xvfb xdotool xwd xwininfo python3"
pids="qm_pid xvfb_pid"
. "$here/gui.sh"

start_xvfb
cd "$src" || fail "no source tree at $src"

"$exe" worlds/welcome.wrl >"$work/qm.log" 2>&1 &
qm_pid=$!
win=$(timeout 20 xdotool search --sync --class Quillmoor 2>/dev/null | head -1)
[ -n "$win" ] || fail "no Quillmoor window appeared"

# (A second start that names a world hands it over: handover_test.sh.)
out=$(timeout 20 "$exe" 2>&1)
status=$?
[ "$status" -eq 255 ] || fail "a second browser ended with $status, not 255"
[[ "$out" == *"Quillmoor is already running."* ]] || fail "a second browser said: $out"


# Whether column button N looks the same in two pictures (its state).
same_button() {
  local x y
  read -r x y < <(button button "$3")
  pic same "$1" "$2" $((x - 20)) $((y - 17)) 41 34
}

shown=0
for _ in $(seq 60); do
  kill -0 "$qm_pid" 2>/dev/null || fail "the browser ended early"
  layout 2>/dev/null
  if [ -n "${vw:-}" ]; then
    snap "$work/before.xwd"
    [ "$(view_colours "$work/before.xwd")" -gt 50 ] && { shown=1; break; }
  fi
  sleep 0.25
done
[ "$shown" -eq 1 ] || fail "the window never showed the world"
[ "$(wc -l <"$work/layout")" -ge 16 ] || fail "the window lacks its bars: $(cat "$work/layout")"

settle() {  # waits for two equal pictures of the view in a row
  snap "$1"
  for _ in $(seq 40); do
    sleep 0.25
    snap "$work/settle.xwd"
    [ "$(same_view "$1" "$work/settle.xwd")" = 1 ] && [ "$(view_colours "$1")" -gt 50 ] && return 0
    cp "$work/settle.xwd" "$1"
  done
  return 1
}

xdotool windowfocus --sync "$win" 2>/dev/null
# Pointing at the fountain shows its comment over the view.
xdotool mousemove $((vx + vw + 100)) $((vy + 10))
settle "$work/plain.xwd" || fail "the welcome world did not settle"
white_before=$(pic white "$work/plain.xwd" "$vx" "$vy" "$vw" "$vh")
xdotool mousemove $((vx + vw / 2)) $((vy + vh * 51 / 100))
labelled=0
for _ in $(seq 20); do
  sleep 0.2
  snap "$work/hover.xwd"
  [ "$(pic white "$work/hover.xwd" "$vx" "$vy" "$vw" "$vh")" -gt $((white_before + 40)) ] && { labelled=1; break; }
done
[ "$labelled" -eq 1 ] || fail "pointing at the fountain showed no label"

xdotool keydown Up
sleep 1
xdotool keyup Up
sleep 0.3
snap "$work/after.xwd"
[ "$(view_colours "$work/after.xwd")" -gt 50 ] || fail "the world is gone after the Up key"
if [ "${QM_GUI_EXPECT_MOTION:-0}" = 1 ]; then
  same=$(same_view "$work/hover.xwd" "$work/after.xwd")
  [ "$same" = 1 ] && fail "holding Up did not move the view"
fi

# The location bar: the gallery opens in its place; the Back button shows
# the welcome world again from the cache, just as it was left; Forward
# from the Go menu returns to the gallery, and Alt+Left goes back again.
settle "$work/welcome.xwd" || fail "the welcome world did not settle"
xdotool mousemove $((lx + lw - 20)) $((ly + lh / 2)) click 1
sleep 0.3
xdotool key ctrl+a
xdotool type --delay 20 "worlds/gallery.wrl"
xdotool key Return
moved=0
for _ in $(seq 60); do
  sleep 0.25
  snap "$work/gallery.xwd"
  [ "$(view_colours "$work/gallery.xwd")" -gt 50 ] && [ "$(same_view "$work/welcome.xwd" "$work/gallery.xwd")" = 0 ] &&
    { moved=1; break; }
done
[ "$moved" -eq 1 ] || fail "typing the gallery into the location bar did not show it"
grep -q "not read" "$work/qm.log" && fail "the typed world was not read"
settle "$work/gallery.xwd" || fail "the gallery did not settle"
# Back is enabled now that there is somewhere to go back to; Forward not.
[ "$(same_button "$work/plain.xwd" "$work/gallery.xwd" 0)" = 0 ] || fail "Back stayed disabled"
[ "$(same_button "$work/plain.xwd" "$work/gallery.xwd" 1)" = 1 ] || fail "Forward changed with nothing ahead"

wait_for() {  # wait_for WANT REFERENCE: the view equal (1) or not (0) to it
  for _ in $(seq 40); do
    sleep 0.25
    snap "$work/now.xwd"
    [ "$(same_view "$2" "$work/now.xwd")" = "$1" ] && return 0
  done
  return 1
}
read -r bx by < <(button button 0)
xdotool mousemove "$bx" "$by" click 1
wait_for 1 "$work/welcome.xwd" || fail "the Back button did not show the welcome world as it was"
sleep 0.3
snap "$work/back.xwd"
[ "$(same_button "$work/plain.xwd" "$work/back.xwd" 0)" = 1 ] || fail "Back is not disabled on the first world"
[ "$(same_button "$work/plain.xwd" "$work/back.xwd" 1)" = 0 ] || fail "Forward is not enabled after going back"

xdotool mousemove $((vx + vw / 2)) $((vy + 5)) click 3
xdotool key alt+g
sleep 0.4
xdotool key f
wait_for 1 "$work/gallery.xwd" || fail "Forward in the Go menu did not show the gallery again"
xdotool mousemove $((vx + vw / 2)) $((vy + 5))
xdotool key alt+Left
wait_for 1 "$work/welcome.xwd" || fail "Alt+Left did not show the welcome world"

# Holding the pad's backward button walks like the Down key.
read -r px py < <(button pad 3)
xdotool mousemove "$px" "$py" mousedown 1
sleep 1
xdotool mouseup 1
wait_for 0 "$work/welcome.xwd" || fail "holding the pad's backward button did not move the view"

# Home puts the person back where the world began; a click on the gate
# follows its anchor to the gallery; a drag up the view walks forward.
read -r hx hy < <(button button 2)
xdotool mousemove "$hx" "$hy" click 1
wait_for 1 "$work/plain.xwd" || fail "Home did not return to the start of the welcome world"
xdotool mousemove $((vx + vw * 80 / 100)) $((vy + vh * 41 / 100)) click 1
wait_for 1 "$work/gallery.xwd" || fail "a click on the gate did not follow its anchor to the gallery"
xdotool mousemove $((vx + vw / 2)) $((vy + vh * 3 / 4)) mousedown 1
for step in 1 2 3 4 5 6; do
  xdotool mousemove $((vx + vw / 2)) $((vy + vh * 3 / 4 - 10 * step))
  sleep 0.1
done
sleep 0.5
xdotool mouseup 1
wait_for 0 "$work/gallery.xwd" || fail "dragging up the view did not walk"

# Walking into the exhibits: the person stops and the frame flashes red.
xdotool mousemove $((vx + vw / 2)) $((vy + 5)) click 3
xdotool keydown Up
flashed=0
for _ in $(seq 40); do
  sleep 0.2
  snap "$work/walk.xwd"
  [ "$(pic red "$work/walk.xwd" $((vx - 3)) "$vy" 3 "$vh")" -gt $((vh / 2)) ] && { flashed=1; break; }
done
xdotool keyup Up
[ "$flashed" -eq 1 ] || fail "walking into the exhibits flashed no red frame"

# A shape the reader cannot dress costs its message, not the window: the
# world around it shows; then a file that is no world leaves it on screen.
cat >"$work/odd.wrl" <<'WRL'
#VRML V1.0 ascii
Separator { Translation { translation -3 0 0 } Cylinder { parts ( SIDES | ALL ) } }
Separator { Translation { translation 3 0 0 } Material { diffuseColor 0 0 1 } Cube { } }
WRL
printf 'no world here\n' >"$work/junk.wrl"
open_typed() {
  xdotool mousemove $((lx + lw - 20)) $((ly + lh / 2)) click 1
  sleep 0.3
  xdotool key ctrl+a
  xdotool type --delay 20 "$1"
  xdotool key Return
}
settle "$work/beforeodd.xwd" || fail "the gallery did not settle before the odd world"
open_typed "$work/odd.wrl"
wait_for 0 "$work/beforeodd.xwd" || fail "the world with the odd cylinder was not shown"
settle "$work/odd.xwd" || fail "the world with the odd cylinder did not settle"
kill -0 "$qm_pid" 2>/dev/null || fail "the odd cylinder ended the browser"
grep -q "unknown parts" "$work/qm.log" || fail "the odd cylinder was not reported"
grep -q "Fatal Error" "$work/qm.log" && fail "the odd cylinder was taken for a fatal error"
open_typed "$work/junk.wrl"
sleep 2
kill -0 "$qm_pid" 2>/dev/null || fail "a file that is no world ended the browser"
snap "$work/afterjunk.xwd"
[ "$(same_view "$work/odd.xwd" "$work/afterjunk.xwd")" = 1 ] || fail "a file that is no world took the shown one away"

xdotool windowclose "$win" 2>/dev/null
for _ in $(seq 100); do kill -0 "$qm_pid" 2>/dev/null || break; sleep 0.1; done
kill -0 "$qm_pid" 2>/dev/null && fail "the browser did not end when its window closed"
wait "$qm_pid"
status=$?
qm_pid=
[ "$status" -eq 0 ] || fail "the browser ended with $status after its window closed"
echo "window_test: passed in ${SECONDS}s"
