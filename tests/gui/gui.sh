# gui.sh — what the window tests share, sourced at their top:
#
#   name=window_test; tools="Xvfb xdotool xwd python3"; pids="qm_pid xvfb_pid"
#   . "$(dirname "$0")/gui.sh"
#
# Skips (77) when a tool is missing; gives a scratch directory ($work) that
# takes the program's XDG directories; at exit kills the processes whose
# ids the variables named in $pids hold (a test empties one it has waited
# for) and removes $work unless QM_KEEP is set; `fail` says what went wrong
# with the end of each log named in $logs (default: qm, from $work/qm.log);
# `start_xvfb` starts an X server of its own on a free display and calls
# `isolate`, which points the program's directories into $work.
for tool in $tools; do
  command -v "$tool" >/dev/null || { echo "$name: $tool is missing; skipped"; exit 77; }
done
work=$(mktemp -d)
for _var in $pids; do printf -v "$_var" ''; done
cleanup() {
  local var
  for var in $pids; do [ -n "${!var}" ] && kill "${!var}" 2>/dev/null; done
  for var in $pids; do [ -n "${!var}" ] && wait "${!var}" 2>/dev/null; done
  [ -n "${QM_KEEP:-}" ] || rm -rf "$work"
}
trap cleanup EXIT
fail() {
  echo "$name: FAILED after ${SECONDS}s: $*"
  local log
  for log in ${logs:-qm}; do
    [ -f "$work/$log.log" ] && sed "s/^/  ${log/qm/quillmoor}: /" "$work/$log.log" | tail -20
  done
  exit 1
}
# Xvfb picks a free display itself and says which on the descriptor.
start_xvfb() {
  Xvfb -displayfd 3 -nolisten tcp -screen 0 1024x768x24 3>"$work/display" 2>"$work/xvfb.log" &
  xvfb_pid=$!
  for _ in $(seq 100); do [ -s "$work/display" ] && break; sleep 0.1; done
  [ -s "$work/display" ] || fail "Xvfb did not start"
  export DISPLAY=":$(head -1 "$work/display")"
  isolate
}
isolate() {
  export LIBGL_ALWAYS_SOFTWARE=1
  export XDG_RUNTIME_DIR="$work/run" XDG_CACHE_HOME="$work/cache" XDG_CONFIG_HOME="$work/config" XDG_DATA_HOME="$work/data"
  mkdir -m 700 "$XDG_RUNTIME_DIR"
}

# Pictures of the screen, read by xpicture.py; $win is the browser's window.
pic() { python3 "$here/xpicture.py" "$@"; }
snap() { xwd -root -silent >"$1" 2>/dev/null; }
# Where the view, the location bar and the buttons are on the screen.
layout() {
  pic layout "$win" >"$work/layout"
  read -r _ vx vy vw vh < <(grep '^view ' "$work/layout")
  read -r _ lx ly lw lh < <(grep '^location ' "$work/layout")
}
button() { awk -v n="$2" -v k="$1" '$1 == k && $2 == n { print $3, $4 }' "$work/layout"; }
view_colours() { pic colours "$1" "$vx" "$vy" "$vw" "$vh"; }
same_view() { pic same "$1" "$2" "$vx" "$vy" "$vw" "$vh"; }
