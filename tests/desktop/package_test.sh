#!/usr/bin/env bash
# package_test.sh — what users install: the desktop entry validates, the
# world types map the suffixes and the old web type to model/vrml, the
# manual names every option the program knows; `cmake --install` into a
# fresh prefix and the Debian package unpacked into a scratch root each
# give a program that runs from there, on the files beside it (the same
# picture of the welcome world as the build tree's, and a failure, not the
# build tree's copy, when they are missing); the package's dependencies
# resolve on this system.
#
#   package_test.sh BUILD_DIR SOURCE_DIR
#
# Exits 77 (skipped) when a tool it needs is missing.
set -u
build=$1
src=$2
for tool in desktop-file-validate update-mime-database cpack dpkg-deb groff python3; do
  command -v "$tool" >/dev/null || { echo "package_test: $tool is missing; skipped"; exit 77; }
done
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
fail() {
  echo "package_test: FAILED after ${SECONDS}s: $*"
  exit 1
}
export LIBGL_ALWAYS_SOFTWARE=1
unset QUILLMOOR_DATA_DIR
exe="$build/shell/quillmoor"

# The desktop entry: no errors, and no warning but the one about the old
# web type, which web browsers still send and so must stay.
out=$(desktop-file-validate "$src/data/quillmoor.desktop" 2>&1) || fail "desktop-file-validate: $out"
grep -v 'x-world/x-vrml' <<<"$out" | grep -q . && fail "desktop-file-validate: $out"
grep -qx 'Exec=quillmoor %u' "$src/data/quillmoor.desktop" || fail "the entry does not pass a URL"

# The world types, merged with the system's database as a system would.
mkdir -p "$work/mime/packages"
cp /usr/share/mime/packages/freedesktop.org.xml "$work/mime/packages/" 2>/dev/null
cp "$src/data/quillmoor-mime.xml" "$work/mime/packages/quillmoor.xml"
update-mime-database "$work/mime" 2>"$work/mime.log" || fail "update-mime-database: $(cat "$work/mime.log")"
for glob in '*.wrl' '*.wrz' '*.wrl.gz'; do
  cut -d: -f2,3 "$work/mime/globs2" | grep -qxF "model/vrml:$glob" || fail "$glob is not model/vrml"
done
grep -qx 'x-world/x-vrml model/vrml' "$work/mime/aliases" || fail "x-world/x-vrml is not an alias of model/vrml"

# The manual renders cleanly and names every option of --help.
warn=$(groff -man -Tutf8 -ww -z "$src/data/quillmoor.1" 2>&1)
[ -z "$warn" ] || fail "the manual page: $warn"
for opt in $("$exe" --help | grep -oE '(^|[[ ])--?[a-z]+' | tr -d '[ ' | sort -u); do
  grep -qF -- "$(sed 's/-/\\-/g' <<<"$opt")" "$src/data/quillmoor.1" || fail "the manual does not know $opt"
done

# The picture an installed program must draw, from the build tree.
"$exe" --screenshot "$work/build.png" --size 160x120 "$src/worlds/welcome.wrl" >/dev/null ||
  fail "the build tree's program drew no welcome world"

# A program under ROOT, its files in ROOT_SHARE: it checks and draws the
# welcome world it brings, the same picture as the build tree's, and fails
# without its own files rather than read the build tree's.
runs_from() {
  local bin=$1 share=$2 what=$3
  [ -x "$bin" ] || fail "$what: no program at $bin"
  for f in person.wrl zvinit.tcl lib/fonts/065.rwx lib/fonts/255.rwx worlds/welcome.wrl; do
    [ -f "$share/$f" ] || fail "$what: $f is missing"
  done
  (cd / && "$bin" --check "$share/worlds/welcome.wrl" >"$work/check.log" 2>&1) ||
    fail "$what: --check failed: $(tail -3 "$work/check.log")"
  (cd / && "$bin" --screenshot "$work/$what.png" --size 160x120 "$share/worlds/welcome.wrl" >/dev/null 2>&1) ||
    fail "$what: --screenshot failed"
  cmp -s "$work/build.png" "$work/$what.png" || fail "$what: the welcome world looks different"
  mv "$share/person.wrl" "$work/person.wrl"
  "$bin" --screenshot "$work/none.png" --size 160x120 "$share/worlds/welcome.wrl" >"$work/none.log" 2>&1 &&
    fail "$what: drew without its own person.wrl (another copy was read)"
  grep -q "person" "$work/none.log" || fail "$what: a missing person.wrl was not the reason: $(cat "$work/none.log")"
  # The variable still wins over the files beside the program.
  QUILLMOOR_DATA_DIR="$build/share/quillmoor" "$bin" --check "$share/worlds/welcome.wrl" >/dev/null 2>&1 ||
    fail "$what: QUILLMOOR_DATA_DIR was not used"
  mv "$work/person.wrl" "$share/person.wrl"
}

cmake --install "$build" --prefix "$work/prefix" >"$work/install.log" 2>&1 ||
  fail "cmake --install: $(tail -5 "$work/install.log")"
runs_from "$work/prefix/bin/quillmoor" "$work/prefix/share/quillmoor" installed

cpack --config "$build/CPackConfig.cmake" -G DEB -B "$work/pkg" >"$work/cpack.log" 2>&1 ||
  fail "cpack: $(tail -5 "$work/cpack.log")"
deb=$(ls "$work"/pkg/quillmoor_*_*.deb 2>/dev/null | head -1)
[ -n "$deb" ] || fail "cpack made no package"
depends=$(dpkg-deb -f "$deb" Depends)
names=$(tr ',' '\n' <<<"$depends" | sed 's/^ *//; s/ .*//')
for lib in libc6 libstdc++6 libtcl8.6 libtk8.6 libx11-6 libegl1 libpng16-16 libegl-mesa0; do
  grep -qxF "$lib" <<<"$names" || fail "the package does not depend on $lib: $depends"
done
dpkg-deb -x "$deb" "$work/root" || fail "dpkg-deb -x failed"
r="$work/root/usr/share"
for f in applications/quillmoor.desktop mime/packages/quillmoor.xml icons/hicolor/scalable/apps/quillmoor.svg \
         man/man1/quillmoor.1.gz; do
  [ -f "$r/$f" ] || fail "the package has no $f"
done
# Every emblem is a PNG of the size its directory names.
for png in "$r"/icons/hicolor/*x*/apps/quillmoor.png; do
  size=$(basename "$(dirname "$(dirname "$png")")")
  got=$(python3 -c 'import struct,sys; d=open(sys.argv[1],"rb").read(24); print("%dx%d" % struct.unpack(">II", d[16:24]) if d[:8]==b"\x89PNG\r\n\x1a\n" else "")' "$png")
  [ "$got" = "$size" ] || fail "$png is ${got:-no PNG}, not $size"
done
[ "$(ls "$r"/icons/hicolor/*x*/apps/quillmoor.png 2>/dev/null | wc -l)" -ge 5 ] || fail "too few emblem sizes"
runs_from "$work/root/usr/bin/quillmoor" "$r/quillmoor" package

# Every dependency is known here, so the package would install.
if command -v apt-get >/dev/null; then
  apt-get -s -q install "$deb" >"$work/apt.log" 2>&1 || fail "apt-get would not install it: $(tail -5 "$work/apt.log")"
fi
echo "package_test: passed in ${SECONDS}s"
