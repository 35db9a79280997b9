#!/usr/bin/env bash
# window_frames.sh QUILLMOOR_EXE [WORLD] [SECONDS] — the frame time inside
# the browser's window, as a person would see it: the program runs on an X
# server of its own with the software rasteriser and "-dframerate", and the
# report's rendering times (the first second left out) give the median,
# the 95th percentile and the period the frame timer settles at.
# WORLD defaults to the corpus's largest level, cages.wrl.
set -u
exe=$1
corpus=${QUILLMOOR_CORPUS:-$(dirname "$0")/../../shared/corpus/vrml1}
world=${2:-$corpus/castle-engine__castle-game/data/levels/cages/cages.wrl}
seconds=${3:-10}
for tool in Xvfb; do command -v "$tool" >/dev/null || { echo "window_frames: $tool is missing"; exit 0; }; done
[ -f "$world" ] || { echo "window_frames: no world at $world; skipped"; exit 0; }
work=$(mktemp -d)
Xvfb -displayfd 3 -nolisten tcp -screen 0 1280x1024x24 3>"$work/display" 2>/dev/null &
xvfb=$!
trap 'kill "$xvfb" 2>/dev/null; wait "$xvfb" 2>/dev/null; rm -rf "$work"' EXIT
for _ in $(seq 100); do [ -s "$work/display" ] && break; sleep 0.1; done
export DISPLAY=":$(head -1 "$work/display")" LIBGL_ALWAYS_SOFTWARE=1 XDG_RUNTIME_DIR="$work"
timeout "$seconds" "$exe" -dframerate "$world" >"$work/log" 2>&1
awk '/^Rendering/ { r[n++] = $2 } /timer interval will be reset/ { gsub(/[^0-9]/, "", $0); last = $0 }
     END {
       skip = n > 60 ? 50 : 0; m = n - skip
       if (m <= 0) { print "window_frames: no frames reported"; exit 1 }
       for (i = 0; i < m; i++) s[i] = r[i + skip]
       for (i = 1; i < m; i++) { v = s[i]; for (j = i - 1; j >= 0 && s[j] > v; j--) s[j + 1] = s[j]; s[j + 1] = v }
       printf "window_frames: %d frames: render median %d ms, p95 %d ms, max %d ms; timer period %s ms\n",
              m, s[int(m / 2)], s[int(m * 0.95)], s[m - 1], last
     }' "$work/log"
