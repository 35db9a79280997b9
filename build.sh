#!/usr/bin/env bash
# build.sh — set up, build, and run Quillmoor on Debian 12.
#
#   bash build.sh run     install what is missing, build, open the browser on
#                         the welcome world (no display: write its screenshot)
#   bash build.sh test    install what is missing, build, run every test
#                         (release and asan through CTest, then the fuzzers)
#   bash build.sh bench   build the release preset and run the benchmarks
#   bash build.sh package build the release preset and make the Debian
#                         package (build/release/quillmoor_*.deb)
#
# Packages are checked one by one; apt-get runs only when one is missing.
set -euo pipefail
cd "$(dirname "$0")"

PACKAGES=(
  cmake ninja-build g++ pkg-config
  libgtest-dev libgmock-dev libbenchmark-dev
  zlib1g-dev libdeflate-dev liblhasa-dev libjpeg62-turbo-dev libpng-dev
  libegl-dev libgl-dev libegl-mesa0 libgl1-mesa-dri libglu1-mesa-dev
  libfreetype-dev libfontconfig-dev fonts-dejavu-core
  tcl8.6-dev tk8.6-dev libx11-dev libcurl4-openssl-dev ca-certificates
  tkdnd xvfb xdotool x11-apps x11-utils
  clang libclang-rt-14-dev
  dpkg-dev librsvg2-bin desktop-file-utils xdg-utils shared-mime-info
  libsdl2-dev libfluidsynth-dev timgm6mb-soundfont
  libavformat-dev libavcodec-dev libavutil-dev libswscale-dev libswresample-dev ffmpeg
  libhiredis-dev redis-server
)

install_missing() {
  local missing=()
  for p in "${PACKAGES[@]}"; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
  done
  if [ ${#missing[@]} -gt 0 ]; then
    echo "build.sh: installing ${missing[*]}"
    local sudo=""
    [ "$(id -u)" -eq 0 ] || sudo="sudo"
    $sudo apt-get update -qq
    DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq --no-install-recommends "${missing[@]}"
  fi
}

# Seeds from our own test data and, where it is, the shared corpus; the
# fuzzers write what they find into a scratch copy, never into the tree.
run_fuzzers() {
  local corpus=${QUILLMOOR_CORPUS:-../shared/corpus/vrml1}
  local work
  work=$(mktemp -d)
  mkdir -p "$work/reader" "$work/image" "$work/bookmark" "$work/wave" "$work/kin"
  cp worlds/*.wkn "$work/kin/" 2>/dev/null || true
  cp tests/data/bookmark/*.htm "$work/bookmark/" 2>/dev/null || true
  find tests/data -name '*.wrl' -exec cp {} "$work/reader/" \; 2>/dev/null || true
  find data worlds -name '*.wav' -size -64k -exec cp {} "$work/wave/" \; 2>/dev/null || true
  find tests/data \( -name '*.gif' -o -name '*.jpg' -o -name '*.png' -o -name '*.bmp' \) -exec cp {} "$work/image/" \; 2>/dev/null || true
  if [ -d "$corpus" ]; then
    find "$corpus" -name '*.wrl' -size -64k | head -80 | while read -r f; do cp "$f" "$work/reader/$(echo "$f" | tr '/' '_')"; done
    find "$corpus" \( -name '*.jpg' -o -name '*.gif' -o -name '*.png' \) -size -256k -exec cp {} "$work/image/" \;
  fi
  local status=0
  echo "== fuzz: reader (40 s) =="
  build/fuzz/fuzz_reader -max_total_time=40 -timeout=10 -rss_limit_mb=2048 -max_len=65536 \
    -artifact_prefix="$work/" "$work/reader" >"$work/reader.log" 2>&1 || { status=1; tail -40 "$work/reader.log"; }
  echo "== fuzz: images (20 s) =="
  build/fuzz/fuzz_image -max_total_time=20 -timeout=10 -rss_limit_mb=2048 \
    -artifact_prefix="$work/" "$work/image" >"$work/image.log" 2>&1 || { status=1; tail -40 "$work/image.log"; }
  echo "== fuzz: link items (10 s) =="
  mkdir -p "$work/item"
  printf '\x20"/c/a,b.wrl",http://h/x.wrl,"x-world/x-vrml"' >"$work/item/view"
  printf '\x10"the type application/x-gzip",1' >"$work/item/alert"
  build/fuzz/fuzz_item -max_total_time=10 -timeout=10 -rss_limit_mb=2048 -max_len=2048 \
    -artifact_prefix="$work/" "$work/item" >"$work/item.log" 2>&1 || { status=1; tail -40 "$work/item.log"; }
  echo "== fuzz: bookmark file (10 s) =="
  build/fuzz/fuzz_bookmark -max_total_time=10 -timeout=10 -rss_limit_mb=2048 -max_len=65536 \
    -artifact_prefix="$work/" "$work/bookmark" >"$work/bookmark.log" 2>&1 || { status=1; tail -40 "$work/bookmark.log"; }
  echo "== fuzz: WAVE files (10 s) =="
  build/fuzz/fuzz_wave -max_total_time=10 -timeout=10 -rss_limit_mb=2048 -max_len=65536 \
    -artifact_prefix="$work/" "$work/wave" >"$work/wave.log" 2>&1 || { status=1; tail -40 "$work/wave.log"; }
  echo "== fuzz: character file (10 s) =="
  build/fuzz/fuzz_kin -max_total_time=10 -timeout=10 -rss_limit_mb=2048 -max_len=65536 \
    -artifact_prefix="$work/" "$work/kin" >"$work/kin.log" 2>&1 || { status=1; tail -40 "$work/kin.log"; }
  echo "== fuzz: the server's message reader (10 s) =="
  mkdir -p "$work/server"
  # Cut points, a hello, a join and a position.
  printf '\x07\x20hello\x01\x01\x00\x00\x00\x00\x00\x00\x00\x00\x00\x00\x00\x00\x00\x00\x00\x00\x0eme\x00person.wrl\x00\x02\x00\x00\x00\x00\x00\x00\x27\x10\x00\x00\x27\x10\x00\x00\x00\x01\x00\x00\x00\x02\x00\x00\x00\x03\x00\x01' >"$work/server/join"
  build/fuzz/fuzz_server -max_total_time=10 -timeout=10 -rss_limit_mb=2048 -max_len=4096 \
    -artifact_prefix="$work/" "$work/server" >"$work/server.log" 2>&1 || { status=1; tail -40 "$work/server.log"; }
  [ $status -eq 0 ] && echo "fuzzers: no findings" && rm -rf "$work"
  return $status
}

build() {
  local preset=$1
  cmake --preset "$preset" >/dev/null
  cmake --build --preset "$preset"
}

cmd=${1:-run}
shift || true
case "$cmd" in
  run)
    install_missing
    build release
    [ $# -gt 0 ] || set -- worlds/welcome.wrl
    if [ -z "${DISPLAY:-}" ]; then
      # No display to open a window on: show what the window would.
      out=${QUILLMOOR_SCREENSHOT:-quillmoor-screenshot.png}
      build/release/shell/quillmoor --screenshot "$out" --size 1024x768 "${@: -1}"
      echo "build.sh: no display; the first frame of ${*: -1} is in $out"
      exit 0
    fi
    exec build/release/shell/quillmoor "$@"
    ;;
  test)
    install_missing
    build release
    build asan
    build fuzz
    status=0
    log=$(mktemp)
    echo "== release =="
    ctest --preset release 2>&1 | tee -a "$log"
    [ "${PIPESTATUS[0]}" -eq 0 ] || status=1
    echo "== asan =="
    ctest --preset asan 2>&1 | tee -a "$log"
    [ "${PIPESTATUS[0]}" -eq 0 ] || status=1
    fuzz_failed=0
    run_fuzzers || { status=1; fuzz_failed=1; }
    # One closing line for everything: the CTest runs and the seven fuzzers.
    read -r total failed < <(awk '/tests failed out of/ {t += $NF; f += $4} END {print t+0, f+0}' "$log")
    rm -f "$log"
    echo "$((total - failed + 7 - 7 * fuzz_failed)) passed, $((failed + 7 * fuzz_failed)) failed"
    exit $status
    ;;
  bench)
    install_missing
    build release
    # Frame times are quoted for the software rasteriser, GPU or not.
    for b in build/release/bench/bench_*; do LIBGL_ALWAYS_SOFTWARE=1 "$b" "$@"; done
    # And inside the window, on an X server of its own.
    bash bench/window_frames.sh build/release/shell/quillmoor
    # A world of many files from a web server on the loopback against disk.
    bash bench/web_world.sh build/release/shell/quillmoor
    ;;
  package)
    install_missing
    build release
    (cd build/release && cpack -G DEB)
    ;;
  *)
    echo "usage: bash build.sh run|test|bench|package" >&2
    exit 1
    ;;
esac
