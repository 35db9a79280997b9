#!/usr/bin/env bash
# behaviour_test.sh — a world's handlers in a real window, on an X server of
# its own: a click on the red cube runs its PICK handler, which turns it
# green; a key runs its KEY_DOWN handler, which turns it blue and notes the
# key in the user files; the world's messages stay free of script errors.
#
#   behaviour_test.sh QUILLMOOR_EXE SOURCE_DIR
#
# Exits 77 (skipped) when Xvfb, xdotool, xwd, xwininfo or python3 is missing.
set -u
exe=$1
src=$2
here=$(cd "$(dirname "$0")" && pwd)

name=behaviour_test
tools="Xvfb xdotool xwd xwininfo python3"
pids="qm_pid xvfb_pid"
. "$here/gui.sh"

start_xvfb

"$exe" -dflags message -dscriptlimit 1000 "$src/tests/data/behaviour/click.wrl" >"$work/qm.log" 2>&1 &
qm_pid=$!
win=$(timeout 20 xdotool search --sync --class Quillmoor 2>/dev/null | head -1)
[ -n "$win" ] || fail "no Quillmoor window appeared"

snap() { xwd -root -silent >"$work/now.xwd" 2>/dev/null; }
# The middle of the view, where the cube is: "R G B".
middle() {
  snap
  pic mean "$work/now.xwd" $((vx + vw / 2 - 4)) $((vy + vh / 2 - 4)) 8 8
}
# Waits for the middle to be mostly red, green or blue.
wait_colour() {
  local r g b
  for _ in $(seq 40); do
    read -r r g b < <(middle)
    case $1 in
      red) [ "$r" -gt 80 ] && [ "$r" -gt $((2 * g)) ] && [ "$r" -gt $((2 * b)) ] && return 0 ;;
      green) [ "$g" -gt 80 ] && [ "$g" -gt $((2 * r)) ] && [ "$g" -gt $((2 * b)) ] && return 0 ;;
      blue) [ "$b" -gt 80 ] && [ "$b" -gt $((2 * r)) ] && [ "$b" -gt $((2 * g)) ] && return 0 ;;
    esac
    sleep 0.25
  done
  echo "$r $g $b"
  return 1
}

for _ in $(seq 60); do
  kill -0 "$qm_pid" 2>/dev/null || fail "the browser ended early"
  pic layout "$win" >"$work/layout" 2>/dev/null
  read -r _ vx vy vw vh < <(grep '^view ' "$work/layout")
  [ -n "${vw:-}" ] && break
  sleep 0.25
done
[ -n "${vw:-}" ] || fail "the window has no view"
seen=$(wait_colour red) || fail "the cube was never shown red: $seen"

xdotool windowfocus --sync "$win" 2>/dev/null
xdotool mousemove $((vx + vw / 2)) $((vy + vh / 2)) click 1
seen=$(wait_colour green) || fail "a click did not turn the cube green: $seen"

# The pointer off the cube: the key goes to the world's top objects.
xdotool mousemove $((vx + 5)) $((vy + 5))
xdotool key q
seen=$(wait_colour blue) || fail "a key did not reach the cube's KEY_DOWN handler: $seen"
keys="$XDG_DATA_HOME/quillmoor/usrfiles/keys.txt"
for _ in $(seq 20); do [ -s "$keys" ] && break; sleep 0.1; done
[ -s "$keys" ] || fail "the KEY_DOWN handler wrote no file in the user files"
# The key code of a letter, and the user data as it was written, unevaluated.
[ "$(head -1 "$keys")" = '76 a [b] $c' ] || fail "the handler noted: $(cat "$keys")"
grep -q 'ret=\[' "$work/qm.log" && fail "the scripts reported errors"

xdotool windowclose "$win" 2>/dev/null
for _ in $(seq 100); do kill -0 "$qm_pid" 2>/dev/null || break; sleep 0.1; done
kill -0 "$qm_pid" 2>/dev/null && fail "the browser did not end when its window closed"
wait "$qm_pid"
status=$?
qm_pid=
[ "$status" -eq 0 ] || fail "the browser ended with $status after its window closed"
echo "behaviour_test: passed in ${SECONDS}s"
