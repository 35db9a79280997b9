#!/usr/bin/env bash
# chat_test.sh — chat in a shared world, on an X server of its own: the
# browser opens a world that names a quillmoor-server on a free loopback
# port and joins it under the nick name of its settings file; a second user
# (zvcppeer.py, speaking the wire protocol itself) is there too. A line
# typed into the chat window reaches the other user as "name: text", and
# the other user's answer appears in the window's log.
#
#   chat_test.sh QUILLMOOR_EXE QUILLMOOR_SERVER_EXE SOURCE_DIR
#
# Exits 77 (skipped) when Xvfb, xdotool, xwd or python3 is missing.
set -u
exe=$1
server=$2
src=$3
here=$(cd "$(dirname "$0")" && pwd)
[ -x "$server" ] || { echo "chat_test: no quillmoor-server at $server; skipped"; exit 77; }

name=chat_test
tools="Xvfb xdotool xwd python3"
pids="peer_pid qm_pid server_pid xvfb_pid"
logs="qm server peer"
. "$here/gui.sh"

start_xvfb
mkdir -p "$XDG_CONFIG_HOME/quillmoor"
printf '[User]\nName=tester\nNickName=tester\n' >"$XDG_CONFIG_HOME/quillmoor/quillmoor.ini"

port=$(python3 -c 'import socket; s = socket.socket(); s.bind(("127.0.0.1", 0)); print(s.getsockname()[1])')
"$server" --port "$port" --bind 127.0.0.1 >"$work/server.log" 2>&1 &
server_pid=$!
for _ in $(seq 50); do
  python3 -c "import socket; socket.create_connection(('127.0.0.1', $port), 1).close()" 2>/dev/null && break
  sleep 0.1
done

cat >"$work/shared.wrl" <<EOF
#VRML V1.0 ascii
Separator {
  DEF ZvServer Info { string "127.0.0.1:$port" }
  Material { diffuseColor 0.3 0.5 0.3 }
  Cube { width 20 height 0.1 depth 20 }
}
EOF

python3 "$here/zvcppeer.py" "$port" bob "tester: hello from the window" "bob: hello from the peer" 40 >"$work/peer.log" 2>&1 &
peer_pid=$!

cd "$src" || fail "no source tree at $src"
"$exe" "$work/shared.wrl" >"$work/qm.log" 2>&1 &
qm_pid=$!
win=$(timeout 20 xdotool search --sync --class Quillmoor 2>/dev/null | head -1)
[ -n "$win" ] || fail "no Quillmoor window appeared"
# Both users have joined once the server has logged two joins.
for _ in $(seq 100); do
  [ "$(grep -c ' join ' "$work/server.log")" -ge 2 ] && break
  sleep 0.1
done
[ "$(grep -c ' join ' "$work/server.log")" -ge 2 ] || fail "the browser did not join the server"
grep -q 'join .*"tester" avatar person.wrl' "$work/server.log" || fail "the join did not carry the settings' nick name"
grep -q '^add [0-9]* person.wrl tester' "$work/peer.log" || sleep 1
grep -q '^add [0-9]* person.wrl tester' "$work/peer.log" || fail "the other user was not told of the browser's avatar"

# View > Chat opens the window; its entry has the keyboard.
xdotool windowfocus --sync "$win" 2>/dev/null
xdotool key alt+v
sleep 0.4
xdotool key c
chat=$(timeout 10 xdotool search --sync --onlyvisible --class zvChatFrame 2>/dev/null | head -1)
[ -n "$chat" ] || fail "the Chat command showed no chat window"
eval "$(xdotool getwindowgeometry --shell "$chat")"
cx=$X cy=$Y cw=$WIDTH ch=$HEIGHT
log_white() { xwd -root -silent >"$work/now.xwd" 2>/dev/null; python3 "$here/xpicture.py" white "$work/now.xwd" $((cx + 5)) $((cy + 5)) $((cw - 30)) $((ch - 40)); }
[ "$(log_white)" -eq 0 ] || fail "the chat log is not empty before anyone spoke"

xdotool mousemove $((cx + cw / 2)) $((cy + ch - 20)) click 1
sleep 0.2
xdotool type --delay 15 "hello from the window"
xdotool key Return
own=0
for _ in $(seq 20); do
  own=$(log_white)
  [ "$own" -gt 0 ] && break
  sleep 0.1
done
[ "$own" -gt 0 ] || fail "the typed line was not logged in the chat window"

for _ in $(seq 150); do kill -0 "$peer_pid" 2>/dev/null || break; sleep 0.1; done
wait "$peer_pid"
status=$?
peer_pid=
grep -q '^text [0-9]* tester: hello from the window$' "$work/peer.log" || fail "the typed line did not reach the other user"
[ "$(grep -c '^text ' "$work/peer.log")" -eq 1 ] || fail "the line reached the other user more than once"
[ "$status" -eq 0 ] || fail "the other user could not answer"

# The answer comes back into the log: more lit text than the own line alone.
for _ in $(seq 40); do
  [ "$(log_white)" -gt $((own + own / 3)) ] && break
  sleep 0.25
done
[ "$(log_white)" -gt $((own + own / 3)) ] || fail "the other user's answer did not appear in the chat log"

xdotool windowclose "$win" 2>/dev/null
for _ in $(seq 100); do kill -0 "$qm_pid" 2>/dev/null || break; sleep 0.1; done
wait "$qm_pid"
status=$?
qm_pid=
[ "$status" -eq 0 ] || fail "the browser ended with $status"
echo "chat_test: passed in ${SECONDS}s"
