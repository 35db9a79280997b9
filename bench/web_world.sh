#!/usr/bin/env bash
# web_world.sh QUILLMOOR_EXE [RUNS] — a world of 50 inlines and 20 textures
# from a web server on the loopback (HTTP/1.1, connections kept alive)
# against the same world read from disk: the whole process, --screenshot
# of each, the median of RUNS runs (7 unless given), and their ratio.
set -u
exe=$1
runs=${2:-7}
here=$(cd "$(dirname "$0")" && pwd)
command -v python3 >/dev/null || { echo "web_world: python3 is missing; skipped"; exit 0; }
work=$(mktemp -d)
server=
trap '[ -n "$server" ] && kill "$server" 2>/dev/null; wait 2>/dev/null; rm -rf "$work"' EXIT

# The world: a grid of 50 inlines, each a textured box; 20 textures, each
# used by the inlines in turn.
mkdir -p "$work/site/parts" "$work/site/tex"
for t in $(seq 0 19); do
  python3 - "$work/site/tex/t$t.png" "$t" <<'PY'
import struct, sys, zlib
n = int(sys.argv[2])
w = h = 64
rows = b"".join(b"\0" + b"".join(bytes(((x * 4 + n * 12) % 256, (y * 4) % 256, (n * 40) % 256)) for x in range(w))
               for y in range(h))
def chunk(t, d): return struct.pack(">I", len(d)) + t + d + struct.pack(">I", zlib.crc32(t + d))
open(sys.argv[1], "wb").write(b"\x89PNG\r\n\x1a\n" + chunk(b"IHDR", struct.pack(">IIBBBBB", w, h, 8, 2, 0, 0, 0)) +
                              chunk(b"IDAT", zlib.compress(rows)) + chunk(b"IEND", b""))
PY
done
{
  echo "#VRML V1.0 ascii"
  echo "PerspectiveCamera { position 0 0 24 }"
  for i in $(seq 0 49); do
    echo "Separator { Translation { translation $(( (i % 10) * 3 - 14 )) $(( (i / 10) * 3 - 6 )) 0 } WWWInline { name \"parts/p$i.wrl\" } }"
  done
} >"$work/site/world.wrl"
for i in $(seq 0 49); do
  {
    echo "#VRML V1.0 ascii"
    echo "Separator {"
    echo "  Texture2 { filename \"../tex/t$((i % 20)).png\" }"
    echo "  Rotation { rotation 1 1 0 0.$((i % 9 + 1)) }"
    echo "  Cube { width 2 height 2 depth 2 }"
    echo "  Separator { Translation { translation 0 0 1.2 } Sphere { radius 0.4 } }"
    echo "}"
  } >"$work/site/parts/p$i.wrl"
done

python3 "$here/../tests/support/httpserver.py" "$work/site" "$work/port" >/dev/null 2>&1 &
server=$!
for _ in $(seq 100); do [ -s "$work/port" ] && break; sleep 0.1; done
[ -s "$work/port" ] || { echo "web_world: the web server did not start"; exit 1; }
url="http://127.0.0.1:$(cat "$work/port")/files/world.wrl"
export LIBGL_ALWAYS_SOFTWARE=1 XDG_CACHE_HOME="$work/cache"

median() {  # median MODE: milliseconds of the whole process, RUNS runs
  local times=() t0 t1 i
  for i in $(seq "$runs"); do
    t0=$(date +%s%N)
    "$exe" --screenshot "$work/$1.png" --size 320x240 "$2" >"$work/$1.log" 2>&1 || { echo "web_world: $1 failed"; cat "$work/$1.log"; exit 1; }
    t1=$(date +%s%N)
    times+=($(( (t1 - t0) / 1000000 )))
  done
  printf '%s\n' "${times[@]}" | sort -n | awk '{ a[NR] = $1 } END { print a[int((NR + 1) / 2)] }'
}
"$exe" --screenshot "$work/warm.png" --size 320x240 "$work/site/world.wrl" >/dev/null 2>&1
local_ms=$(median local "$work/site/world.wrl")
remote_ms=$(median remote "$url")
cmp -s "$work/local.png" "$work/remote.png" || echo "web_world: the remote world drew another picture"
awk -v l="$local_ms" -v r="$remote_ms" 'BEGIN {
  printf "web_world: 50 inlines, 20 textures, --screenshot: local %d ms, loopback web %d ms, ratio %.2f\n", l, r, r / l }'
