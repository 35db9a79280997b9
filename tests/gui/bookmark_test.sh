#!/usr/bin/env bash
# bookmark_test.sh — bookmarks in a real window, on an X server of its own:
# Add bookmark writes landmark.htm and the snapshot, the bookmark appears in
# the Bookmark menu and choosing it puts the person back at the place, in
# the same world and from another one; a browser started later reads the
# list and jumps into a world it has not loaded yet; the dialog's Delete
# and OK empty the list and take the snapshot away.
#
#   bookmark_test.sh QUILLMOOR_EXE SOURCE_DIR
#
# Exits 77 (skipped) when Xvfb, xdotool, xwd, xwininfo or python3 is missing.
set -u
exe=$1
src=$2
here=$(cd "$(dirname "$0")" && pwd)

name=bookmark_test
tools="Xvfb xdotool xwd xwininfo python3"
pids="qm_pid xvfb_pid"
. "$here/gui.sh"

start_xvfb
marks="$XDG_DATA_HOME/quillmoor"
cd "$src" || fail "no source tree at $src"

# A place read back from the file is the place to six decimals: a few
# pixels along edges may differ, no more than one in a hundred.
near_view() {
  python3 - "$here/xpicture.py" "$1" "$2" "$vx" "$vy" "$vw" "$vh" <<'PY'
import sys
path, a, b, x, y, w, h = sys.argv[1], sys.argv[2], sys.argv[3], *map(int, sys.argv[4:8])
sys.argv = ['xpicture', 'none']
source = open(path).read().replace('\nmain()\n', '\n')
exec(source)
ra, rb = region(a, x, y, w, h), region(b, x, y, w, h)
if not ra or not rb:
    print(0)
    sys.exit()
(rows_a, step), (rows_b, _) = ra, rb
differ = sum(ra_[i:i + 3] != rb_[i:i + 3] for ra_, rb_ in zip(rows_a, rows_b) for i in range(0, len(ra_), step))
print(1 if differ * 100 < w * h else 0)
PY
}

start() {  # start WORLD: a browser on it, its window and view found
  "$exe" "$1" >>"$work/qm.log" 2>&1 &
  qm_pid=$!
  win=$(timeout 20 xdotool search --sync --class Quillmoor 2>/dev/null | head -1)
  [ -n "$win" ] || fail "no Quillmoor window appeared"
  for _ in $(seq 60); do
    pic layout "$win" >"$work/layout" 2>/dev/null
    read -r _ vx vy vw vh < <(grep '^view ' "$work/layout")
    [ -n "${vw:-}" ] && snap "$work/first.xwd" && [ "$(pic colours "$work/first.xwd" "$vx" "$vy" "$vw" "$vh")" -gt 50 ] &&
      break
    sleep 0.25
  done
  read -r _ lx ly lw lh < <(grep '^location ' "$work/layout")
  xdotool windowfocus --sync "$win" 2>/dev/null
  # Away from the view, so no label comes and goes in the pictures.
  xdotool mousemove $((vx + vw + 100)) $((vy + 10))
}
stop() {
  xdotool windowclose "$win" 2>/dev/null
  for _ in $(seq 100); do kill -0 "$qm_pid" 2>/dev/null || break; sleep 0.1; done
  wait "$qm_pid"
  local status=$?
  qm_pid=
  [ "$status" -eq 0 ] || fail "the browser ended with $status"
}
settle() {  # waits for two equal pictures of the view in a row
  snap "$1"
  for _ in $(seq 40); do
    sleep 0.25
    snap "$work/settle.xwd"
    [ "$(same_view "$1" "$work/settle.xwd")" = 1 ] && return 0
    cp "$work/settle.xwd" "$1"
  done
  return 1
}
wait_for() {  # wait_for WANT REFERENCE [near]: the view equal (1) or not (0) to it
  local compare=${3:-same}_view
  for _ in $(seq 40); do
    sleep 0.25
    snap "$work/now.xwd"
    [ "$($compare "$2" "$work/now.xwd")" = "$1" ] && return 0
  done
  return 1
}
walk() {  # walk [KEY]: forward, or turning with Left
  xdotool mousemove $((vx + vw / 2)) $((vy + 5)) click 3
  xdotool keydown "${1:-Up}"
  sleep 0.6
  xdotool keyup "${1:-Up}"
  xdotool mousemove $((vx + vw + 100)) $((vy + 10))
}
menu() {  # menu LETTER: the Bookmark menu's item with that letter
  xdotool key alt+b
  sleep 0.4
  xdotool key "$1"
}
open_typed() {
  xdotool mousemove $((lx + lw - 20)) $((ly + lh / 2)) click 1
  sleep 0.3
  xdotool key ctrl+a
  xdotool type --delay 20 "$1"
  xdotool key Return
  xdotool mousemove $((vx + vw + 100)) $((vy + 10))
}

start worlds/welcome.wrl
walk Right
settle "$work/marked.xwd" || fail "the welcome world did not settle"
[ "$(near_view "$work/first.xwd" "$work/marked.xwd")" = 0 ] || fail "turning right did not change the view"
menu a
for _ in $(seq 40); do [ -s "$marks/mark00.bmp" ] && break; sleep 0.25; done
[ -s "$marks/mark00.bmp" ] || fail "Add bookmark left no snapshot"
grep -q '<DT><A HREF="file:///.*welcome.wrl" LOC="' "$marks/landmark.htm" || fail "landmark.htm lacks the bookmark"
grep -q '>Unknown World(-*[0-9.]*,' "$marks/landmark.htm" || fail "the bookmark's title is not the untitled world's"

# In the same world: turn away, then the menu's item brings the view back.
walk Left
wait_for 0 "$work/marked.xwd" || fail "turning did not change the view"
menu u
wait_for 1 "$work/marked.xwd" near || fail "the bookmark did not bring the person back in the same world"

# From another world: the bookmarked one is shown at the place.
open_typed worlds/gallery.wrl
wait_for 0 "$work/marked.xwd" || fail "the gallery did not open"
settle "$work/gallery.xwd" || fail "the gallery did not settle"
menu u
wait_for 1 "$work/marked.xwd" near || fail "the bookmark did not open its world at the place"
stop

# A browser started on the gallery reads the list and loads the world.
start worlds/gallery.wrl
settle "$work/gallery2.xwd" || fail "the gallery did not settle"
menu u
wait_for 1 "$work/marked.xwd" near || fail "a bookmark read from the file did not load its world at the place"

# The dialog: Delete, then OK.
menu v
dlg=$(timeout 10 xdotool search --sync --name "View Bookmark" 2>/dev/null | head -1)
[ -n "$dlg" ] || fail "View Bookmark showed no dialog"
sleep 0.5
eval "$(xdotool getwindowgeometry --shell "$dlg")"
# Delete and OK sit in the first and third quarters of the row at the bottom.
xdotool mousemove $((X + 10 + 50)) $((Y + HEIGHT - 25)) click 1
sleep 0.3
xdotool mousemove $((X + 10 + 250)) $((Y + HEIGHT - 25)) click 1
for _ in $(seq 40); do [ -s "$marks/landmark.htm" ] || break; sleep 0.25; done
[ -s "$marks/landmark.htm" ] && fail "Delete and OK left the bookmark in the file"
[ -e "$marks/mark00.bmp" ] && fail "the deleted bookmark's snapshot stayed"
kill -0 "$qm_pid" 2>/dev/null || fail "the dialog ended the browser"
stop
grep -q "Fatal Error" "$work/qm.log" && fail "a fatal error was reported"
echo "bookmark_test: passed in ${SECONDS}s"
