#!/usr/bin/env bash
# handover_test.sh — one window per user: a later start without a world is refused; a later start naming a world (a
# path relative to where it was started, or a file: URL) hands it to the
# open window, which shows it, and ends with 0; garbage written to the
# socket costs the window nothing; closing the window removes the socket.
#
#   with_xvfb.sh bash handover_test.sh QUILLMOOR_EXE SOURCE_DIR
#
# Exits 77 (skipped) without a display, xdotool or python3.
set -u
exe=$1
src=$2
[ -n "${DISPLAY:-}" ] || { echo "handover_test: no display; skipped"; exit 77; }
name=handover_test
tools="xdotool python3"
pids="qm_pid"
. "$(cd "$(dirname "$0")" && pwd)/gui.sh"
isolate
sock="$XDG_RUNTIME_DIR/quillmoor.sock"

mkdir "$work/elsewhere"
cat >"$work/elsewhere/handed.wrl" <<'WRL'
#VRML V1.0 ascii
Separator {
  DEF Title Info { string "Handed over" }
  Cube { }
}
WRL

cd "$src" || fail "no source tree at $src"
"$exe" worlds/welcome.wrl >"$work/qm.log" 2>&1 &
qm_pid=$!
win=$(timeout 20 xdotool search --sync --class Quillmoor 2>/dev/null | head -1)
[ -n "$win" ] || fail "no Quillmoor window appeared"
for _ in $(seq 50); do [ -S "$sock" ] && break; sleep 0.1; done
[ -S "$sock" ] || fail "the window does not listen at $sock"

title_becomes() {
  for _ in $(seq 100); do
    [ "$(xdotool getwindowname "$win" 2>/dev/null)" = "$1" ] && return 0
    sleep 0.1
  done
  return 1
}

out=$(timeout 20 "$exe" 2>&1)
status=$?
[ "$status" -eq 255 ] || fail "a second start without a world ended with $status, not 255"
[[ "$out" == *"Quillmoor is already running."* ]] || fail "a second start without a world said: $out"

# A path relative to the later start's own directory, not the window's.
out=$(cd "$work/elsewhere" && timeout 20 "$exe" -dname handed.wrl 2>&1)
status=$?
[ "$status" -eq 0 ] || fail "handing a world over ended with $status: $out"
title_becomes "Handed over" || fail "the window did not open the world handed over (title: $(xdotool getwindowname "$win"))"

# What another process may write (the service's own test goes through the
# cases): noise, a flood, a caller that says nothing while others talk.
python3 - "$sock" <<'PY' || fail "the socket did not answer garbage with NO"
import socket, sys
silent = socket.socket(socket.AF_UNIX)
silent.connect(sys.argv[1])
for data, close in [(b"\x00\xff" * 300, True), (b"x" * 60000, False), (b"OPEN /etc/\x1b[2J.wrl\n", True)]:
    s = socket.socket(socket.AF_UNIX)
    s.settimeout(5)
    s.connect(sys.argv[1])
    try:
        s.sendall(data)
    except BrokenPipeError:  # the browser may stop reading a flood early
        pass
    if close:
        s.shutdown(socket.SHUT_WR)
    got = s.recv(16)
    if got != b"NO\n":
        sys.exit("garbage %r... answered %r" % (data[:20], got))
PY
kill -0 "$qm_pid" 2>/dev/null || fail "garbage on the socket ended the browser"

out=$(timeout 20 "$exe" "file://$src/worlds/courtyard.wrl" 2>&1)
status=$?
[ "$status" -eq 0 ] || fail "handing a file: URL over after the garbage ended with $status: $out"
title_becomes "The courtyard of moving things" || fail "the window did not open the courtyard handed over"

xdotool windowclose "$win" 2>/dev/null
for _ in $(seq 100); do kill -0 "$qm_pid" 2>/dev/null || break; sleep 0.1; done
kill -0 "$qm_pid" 2>/dev/null && fail "the browser did not end when its window closed"
wait "$qm_pid"
status=$?
qm_pid=
[ "$status" -eq 0 ] || fail "the browser ended with $status after its window closed"
[ -e "$sock" ] && fail "the socket outlived the window"
echo "handover_test: passed in ${SECONDS}s"
