#!/usr/bin/env bash
# Builds the Debian package of penamo and checks it the way a user meets it: lintian, the
# desktop entry and metainfo validators, the manual pages, an install into a throwaway root,
# the installed programs run from their installed paths, and a removal and purge that leave
# nothing behind.
#
#   scripts/package.sh                  build build/package (Release with Debian's hardening
#                                       flags), make build/package/penamo_*.deb, check it
#   scripts/package.sh --system         the same, then install it on this machine with apt,
#                                       check it there and purge it again
#   scripts/package.sh --build-dir DIR  package and check an existing build tree; the package
#                                       stays in a temporary folder (the CTest does this)
set -euo pipefail
cd "$(dirname "$0")/.."
source scripts/setup.sh

build_dir= system=0
while [ $# -gt 0 ]; do
  case $1 in
    --build-dir) build_dir=$(realpath "$2"); shift 2 ;;
    --system) system=1; shift ;;
    *) echo "usage: $0 [--build-dir DIR] [--system]" >&2; exit 2 ;;
  esac
done

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
failures=0
fail() {
  echo "FAILED: $*"
  failures=$((failures + 1))
}
step() { echo; echo "== $*"; }

if [ -z "$build_dir" ]; then
  penamo_install_deps
  step "Release build with Debian's hardening flags"
  export DEB_BUILD_MAINT_OPTIONS=hardening=+all
  build_dir=$PWD/build/package
  cmake -S . -B "$build_dir" -G Ninja -DCMAKE_BUILD_TYPE=Release -DPENAMO_TESTS=OFF \
    -DPENAMO_BENCH=OFF \
    -DCMAKE_CXX_FLAGS="$(dpkg-buildflags --get CPPFLAGS) $(dpkg-buildflags --get CXXFLAGS)" \
    -DCMAKE_EXE_LINKER_FLAGS="$(dpkg-buildflags --get LDFLAGS)" >/dev/null
  nice -n 10 cmake --build "$build_dir" -j2
  out_dir=$build_dir
else
  out_dir=$work
fi

step "Package"
(cd "$build_dir" && cpack -G DEB -B "$work/cpack" >"$work/cpack.log") || {
  cat "$work/cpack.log"
  exit 1
}
deb=$(ls "$work"/cpack/penamo_*.deb)
if [ "$out_dir" != "$work" ]; then
  cp "$deb" "$out_dir/"
  deb=$out_dir/$(basename "$deb")
fi
echo "$deb"
dpkg-deb -I "$deb" | sed -n '/^ Package:/,$p'
dpkg-deb -c "$deb" | tee "$work/contents.txt"
version=$(dpkg-deb -f "$deb" Version)
app_id=$(dpkg-deb -c "$deb" | sed -n 's|.*/usr/share/applications/\(.*\)\.desktop$|\1|p')

step "Contents"
files=(usr/bin/penamo usr/bin/penamo-filter
  usr/share/man/man1/penamo.1.gz usr/share/man/man1/penamo-filter.1.gz
  "usr/share/applications/$app_id.desktop" "usr/share/metainfo/$app_id.metainfo.xml"
  usr/share/bash-completion/completions/penamo-filter
  usr/share/doc/penamo/copyright usr/share/doc/penamo/changelog.gz)
for size in 16 32 48 64 128 256; do files+=("usr/share/icons/hicolor/${size}x$size/apps/penamo.png"); done
for f in "${files[@]}"; do
  grep -q " \./$f$" "$work/contents.txt" || fail "the package lacks /$f"
done
if grep -q '\./usr/local' "$work/contents.txt"; then fail "the package installs under /usr/local"; fi
for size in 16 32 48 64 128 256; do
  dpkg-deb --fsys-tarfile "$deb" |
    tar -xOf - "./usr/share/icons/hicolor/${size}x$size/apps/penamo.png" >"$work/icon.png"
  [ "$(file -b "$work/icon.png" | cut -d, -f2)" = " $size x $size" ] ||
    fail "the ${size}x$size icon is $(file -b "$work/icon.png")"
done

step "lintian"
lintian_args=(-I --pedantic --fail-on error)
[ "$(id -u)" -ne 0 ] || lintian_args+=(--allow-root)
lintian "${lintian_args[@]}" "$deb" || fail "lintian reports errors"

step "Validators and manual pages, as packaged"
dpkg-deb -x "$deb" "$work/unpacked"
tests/package/validate-desktop-files.sh "$work/unpacked/usr/share/applications/$app_id.desktop" \
  "$work/unpacked/usr/share/metainfo/$app_id.metainfo.xml" || fail "a validator complains"
for page in penamo penamo-filter; do
  warnings=$(LC_ALL=C.UTF-8 MANWIDTH=80 man --warnings -E UTF-8 -l \
    "$work/unpacked/usr/share/man/man1/$page.1.gz" 2>&1 >/dev/null)
  [ -z "$warnings" ] || fail "man warns about $page(1): $warnings"
done

step "Dependencies resolve on this machine (apt, simulated)"
apt-get install -s "$deb" >"$work/apt-simulate.log" 2>&1 || {
  cat "$work/apt-simulate.log"
  fail "apt cannot install the package here"
}
grep '^Inst' "$work/apt-simulate.log" || true

# A throwaway picture: 2 x 2 pixels, 24 bits.
picture=$work/in.bmp
printf 'BM\x46\0\0\0\0\0\0\0\x36\0\0\0\x28\0\0\0\x02\0\0\0\x02\0\0\0\x01\0\x18\0\0\0\0\0\x10\0\0\0\x13\x0b\0\0\x13\x0b\0\0\0\0\0\0\0\0\0\0' >"$picture"
printf '\x10\x20\x30\x40\x50\x60\0\0\x70\x80\x90\xa0\xb0\xc0\0\0' >>"$picture"

# Runs the installed programs from ROOT (/ or the throwaway root) and checks that each file
# is where the desktop and man look for it.
check_installed() {
  local root=$1 home=$work/home
  mkdir -p "$home"
  local printed
  printed=$("$root/usr/bin/penamo-filter" --version) || fail "penamo-filter --version fails"
  echo "$printed"
  # The program says 0.8Alpha where Debian says 0.8~alpha.
  local said=${printed##* }
  [ "${said,,}" = "${version//\~/}" ] || fail "penamo-filter says $said, the package $version"
  rm -f "$work/out.bmp"
  "$root/usr/bin/penamo-filter" diffusion64 "$picture" "$work/out.bmp" &&
    [ "$(head -c 2 "$work/out.bmp")" = BM ] || fail "penamo-filter diffusion64 writes no bitmap"
  # The window program starts and keeps running until it is stopped.
  local status=0
  HOME=$home XDG_CONFIG_HOME=$home/.config XDG_CACHE_HOME=$home/.cache \
    XDG_DATA_HOME=$home/.local/share XDG_RUNTIME_DIR=$home QT_QPA_PLATFORM=offscreen \
    timeout 3 "$root/usr/bin/penamo" "$picture" >"$work/penamo.log" 2>&1 || status=$?
  [ $status -eq 124 ] || { cat "$work/penamo.log"; fail "penamo ended by itself with $status"; }
  # Menus read $XDG_DATA_DIRS/applications and the icon theme; man reads /usr/share/man.
  [ -f "$root/usr/share/applications/$app_id.desktop" ] || fail "no desktop entry in the menu"
  grep -q '^Exec=penamo %f$' "$root/usr/share/applications/$app_id.desktop" ||
    fail "the desktop entry does not start penamo with the file"
  local icon
  icon=$(sed -n 's/^Icon=//p' "$root/usr/share/applications/$app_id.desktop")
  [ -f "$root/usr/share/icons/hicolor/48x48/apps/$icon.png" ] || fail "no icon named $icon"
  local page
  for page in penamo penamo-filter; do
    [ "$(MANPATH=$root/usr/share/man man -w "$page")" = "$root/usr/share/man/man1/$page.1.gz" ] ||
      fail "man does not find $page(1)"
  done
}

step "Install into a throwaway root"
root=$work/root
mkdir -p "$root/var/lib/dpkg/info" "$root/var/lib/dpkg/updates" "$root/var/lib/dpkg/triggers"
touch "$root/var/lib/dpkg/status" "$root/var/lib/dpkg/available"
# The root holds no other package: its dependencies are the machine's, checked above.
dpkg_root=(dpkg --root="$root" --log="$work/dpkg.log" --force-depends)
[ "$(id -u)" -eq 0 ] || dpkg_root+=(--force-not-root)
"${dpkg_root[@]}" -i "$deb" >"$work/dpkg-install.log" 2>&1 || {
  cat "$work/dpkg-install.log"
  fail "dpkg cannot install into a throwaway root"
}
check_installed "$root"

step "Remove, then purge, in the throwaway root"
left_behind() {
  find "$root" -mindepth 1 ! -path "$root/var" ! -path "$root/var/lib" ! -path "$root/var/lib/dpkg" \
    ! -path "$root/var/lib/dpkg/*"
}
"${dpkg_root[@]}" -r penamo >/dev/null || fail "dpkg cannot remove the package"
left=$(left_behind)
[ -z "$left" ] || fail "left behind after removal: $left"
# Without configuration files, removal forgets the package already; purge what remains if not.
if dpkg-query --admindir="$root/var/lib/dpkg" -W penamo >/dev/null 2>&1; then
  "${dpkg_root[@]}" -P penamo >/dev/null || fail "dpkg cannot purge the package"
fi
! dpkg-query --admindir="$root/var/lib/dpkg" -W penamo >/dev/null 2>&1 ||
  fail "dpkg still knows penamo after the purge"
left=$(left_behind)
[ -z "$left" ] || fail "left behind after purge: $left"

if [ $system -eq 1 ]; then
  step "Install on this machine with apt, then purge"
  if dpkg-query -W -f='${Status}' penamo 2>/dev/null | grep -q 'ok installed'; then
    fail "penamo is installed here already; not touching it"
  else
    sudo=()
    [ "$(id -u)" -eq 0 ] || sudo=(sudo)
    # Whatever else apt would bring in goes again afterwards, so the machine stays as it was.
    extra=$(sed -n 's/^Inst \([^ ]*\) .*/\1/p' "$work/apt-simulate.log" | grep -vx penamo || true)
    DEBIAN_FRONTEND=noninteractive "${sudo[@]}" apt-get install -y -qq "$deb" >/dev/null
    dpkg -L penamo >"$work/installed.txt"
    check_installed ""
    [ "$(command -v penamo-filter)" = /usr/bin/penamo-filter ] || fail "penamo-filter is not on PATH"
    [ "$(man -w penamo-filter)" = /usr/share/man/man1/penamo-filter.1.gz ] ||
      fail "man penamo-filter does not find the page"
    # The file manager's list of programs per picture type, rebuilt by desktop-file-utils.
    mime_cache=/usr/share/applications/mimeinfo.cache
    if [ -f "$mime_cache" ]; then
      grep -q "^image/bmp=.*$app_id.desktop" "$mime_cache" ||
        fail "the file manager does not offer penamo for bitmaps"
    fi
    # shellcheck disable=SC2086
    DEBIAN_FRONTEND=noninteractive "${sudo[@]}" apt-get purge -y -qq penamo $extra >/dev/null
    while read -r path; do
      [ -d "$path" ] && continue
      [ ! -e "$path" ] || fail "left behind after purge: $path"
    done <"$work/installed.txt"
    ! dpkg-query -W penamo >/dev/null 2>&1 || fail "dpkg still knows penamo"
    if [ -f "$mime_cache" ] && grep -q "$app_id.desktop" "$mime_cache"; then
      fail "the file manager still offers penamo"
    fi
  fi
fi

echo
if [ $failures -ne 0 ]; then
  echo "$failures package checks failed"
  exit 1
fi
echo "package checks passed: $(basename "$deb")"
