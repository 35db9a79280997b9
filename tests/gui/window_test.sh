#!/usr/bin/env bash
# window_test.sh — the browser in a real window, on an X server of its own:
# the window opens on the welcome world and shows it, a second browser is
# refused, the arrow keys reach the view, a path typed into the location
# bar opens that world and Back returns to the first, and closing the
# window ends the program cleanly.
#
#   window_test.sh QUILLMOOR_EXE SOURCE_DIR
#
# Exits 77 (skipped) when Xvfb, xdotool, xwd or python3 is missing. With
# QM_GUI_EXPECT_MOTION=1 the picture must change while Up is held.
set -u
exe=$1
src=$2
for tool in Xvfb xdotool xwd python3; do
  command -v "$tool" >/dev/null || { echo "window_test: $tool is missing; skipped"; exit 77; }
done

work=$(mktemp -d)
xvfb_pid=
qm_pid=
cleanup() {
  [ -n "$qm_pid" ] && kill "$qm_pid" 2>/dev/null
  [ -n "$xvfb_pid" ] && kill "$xvfb_pid" 2>/dev/null
  [ -n "$qm_pid" ] && wait "$qm_pid" 2>/dev/null
  [ -n "$xvfb_pid" ] && wait "$xvfb_pid" 2>/dev/null
  rm -rf "$work"
}
trap cleanup EXIT
fail() {
  echo "window_test: FAILED: $*"
  [ -f "$work/qm.log" ] && sed 's/^/  quillmoor: /' "$work/qm.log" | tail -20
  exit 1
}

# Xvfb picks a free display itself and says which on the descriptor.
Xvfb -displayfd 3 -nolisten tcp -screen 0 1024x768x24 3>"$work/display" 2>"$work/xvfb.log" &
xvfb_pid=$!
for _ in $(seq 100); do [ -s "$work/display" ] && break; sleep 0.1; done
[ -s "$work/display" ] || fail "Xvfb did not start"
export DISPLAY=":$(head -1 "$work/display")"
export LIBGL_ALWAYS_SOFTWARE=1
export XDG_RUNTIME_DIR="$work/run" XDG_CACHE_HOME="$work/cache" XDG_CONFIG_HOME="$work/config" XDG_DATA_HOME="$work/data"
mkdir -m 700 "$XDG_RUNTIME_DIR"
cd "$src" || fail "no source tree at $src"

"$exe" worlds/welcome.wrl >"$work/qm.log" 2>&1 &
qm_pid=$!
win=$(timeout 20 xdotool search --sync --class Quillmoor 2>/dev/null | head -1)
[ -n "$win" ] || fail "no Quillmoor window appeared"

out=$(timeout 20 "$exe" worlds/welcome.wrl 2>&1)
status=$?
[ "$status" -eq 255 ] || fail "a second browser ended with $status, not 255"
[[ "$out" == *"Quillmoor is already running."* ]] || fail "a second browser said: $out"

# Distinct colours in the window's picture: a drawn world has many, the
# waiting text on black a handful.
colours() {
  python3 - "$1" <<'PY'
import struct, sys
d = open(sys.argv[1], 'rb').read()
if len(d) < 100:
    print(0); sys.exit()
h = struct.unpack('>25I', d[:100])
size, width, height, bpp, line, ncolours = h[0], h[4], h[5], h[11], h[12], h[19]
start = size + 12 * ncolours
step = bpp // 8
seen = set()
if step in (3, 4):
    for y in range(0, height, 4):
        row = d[start + y * line:start + y * line + width * step]
        for x in range(0, len(row) - step + 1, 4 * step):
            seen.add(row[x:x + 3])
print(len(seen))
PY
}
snap() { xwd -id "$win" -silent >"$1" 2>/dev/null; }

shown=0
for _ in $(seq 60); do
  kill -0 "$qm_pid" 2>/dev/null || fail "the browser ended early"
  snap "$work/before.xwd"
  [ "$(colours "$work/before.xwd")" -gt 50 ] && { shown=1; break; }
  sleep 0.25
done
[ "$shown" -eq 1 ] || fail "the window never showed the world"

xdotool windowfocus --sync "$win" 2>/dev/null || xdotool mousemove --window "$win" 100 100
xdotool keydown Up
sleep 1
xdotool keyup Up
sleep 0.3
snap "$work/after.xwd"
[ "$(colours "$work/after.xwd")" -gt 50 ] || fail "the world is gone after the Up key"
if [ "${QM_GUI_EXPECT_MOTION:-0}" = 1 ]; then
  cmp -s "$work/before.xwd" "$work/after.xwd" && fail "holding Up did not move the view"
fi

# The location bar: the gallery opens in its place, and Back (Alt+Left)
# shows the welcome world again from the cache, just as it was left.
same_view() {
  python3 - "$1" "$2" <<'PY'
import struct, sys
def view(name):
    d = open(name, 'rb').read()
    h = struct.unpack('>25I', d[:100])
    size, height, line, ncolours = h[0], h[5], h[12], h[19]
    start = size + 12 * ncolours
    # Below the location bar: the frame alone.
    return d[start + 40 * line:start + height * line]
print(1 if view(sys.argv[1]) == view(sys.argv[2]) else 0)
PY
}
settle() {  # waits for two equal pictures in a row
  snap "$1"
  for _ in $(seq 40); do
    sleep 0.25
    snap "$work/settle.xwd"
    [ "$(same_view "$1" "$work/settle.xwd")" = 1 ] && [ "$(colours "$1")" -gt 50 ] && return 0
    cp "$work/settle.xwd" "$1"
  done
  return 1
}
settle "$work/welcome.xwd" || fail "the welcome world did not settle"
xdotool mousemove --window "$win" 320 8 click 1
sleep 0.3
xdotool key ctrl+a
xdotool type --delay 20 "worlds/gallery.wrl"
xdotool key Return
moved=0
for _ in $(seq 60); do
  sleep 0.25
  snap "$work/gallery.xwd"
  [ "$(colours "$work/gallery.xwd")" -gt 50 ] && [ "$(same_view "$work/welcome.xwd" "$work/gallery.xwd")" = 0 ] &&
    { moved=1; break; }
done
[ "$moved" -eq 1 ] || fail "typing the gallery into the location bar did not show it"
grep -q "not read" "$work/qm.log" && fail "the typed world was not read"
xdotool mousemove --window "$win" 300 300
xdotool key alt+Left
back=0
for _ in $(seq 40); do
  sleep 0.25
  snap "$work/back.xwd"
  [ "$(same_view "$work/welcome.xwd" "$work/back.xwd")" = 1 ] && { back=1; break; }
done
[ "$back" -eq 1 ] || fail "Back did not show the welcome world as it was"

xdotool windowclose "$win" 2>/dev/null
for _ in $(seq 100); do kill -0 "$qm_pid" 2>/dev/null || break; sleep 0.1; done
kill -0 "$qm_pid" 2>/dev/null && fail "the browser did not end when its window closed"
wait "$qm_pid"
status=$?
qm_pid=
[ "$status" -eq 0 ] || fail "the browser ended with $status after its window closed"
echo "window_test: passed"
