#!/usr/bin/env bash
# build.sh — set up, build, and run Quillmoor on Debian 12.
#
#   bash build.sh run     install what is missing, build, open the browser
#   bash build.sh test    install what is missing, build, run every test
#   bash build.sh bench   build the release preset and run the benchmarks
#
# Packages are checked one by one; apt-get runs only when one is missing.
set -euo pipefail
cd "$(dirname "$0")"

PACKAGES=(
  cmake ninja-build g++ pkg-config
  libgtest-dev libgmock-dev libbenchmark-dev
  zlib1g-dev liblhasa-dev libjpeg62-turbo-dev libpng-dev
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
    exec build/release/shell/quillmoor "$@"
    ;;
  test)
    install_missing
    build release
    build asan
    status=0
    echo "== release =="
    ctest --preset release || status=1
    echo "== asan =="
    ctest --preset asan || status=1
    exit $status
    ;;
  bench)
    install_missing
    build release
    for b in build/release/bench/bench_*; do "$b" "$@"; done
    ;;
  *)
    echo "usage: bash build.sh run|test|bench" >&2
    exit 1
    ;;
esac
