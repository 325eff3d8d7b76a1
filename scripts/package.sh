#!/usr/bin/env bash
# Builds the Debian packages of penamo and checks them the way a user meets them: lintian on
# each, the desktop entry and metainfo validators, the manual pages, an install into a throwaway
# root, the installed programs, library, Python module and GEGL operation run from their
# installed paths, and a removal and purge that leave nothing behind. The packages: penamo (the
# programs), libpenamo0, libpenamo-dev, python3-penamo and gegl-penamo (the last three when the
# build has the library, the Python module and the GEGL operation).
#
#   scripts/package.sh                  build build/package (Release with Debian's hardening
#                                       flags), make build/package/*.deb, check them
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
    -DCMAKE_C_FLAGS="$(dpkg-buildflags --get CPPFLAGS) $(dpkg-buildflags --get CFLAGS)" \
    -DCMAKE_EXE_LINKER_FLAGS="$(dpkg-buildflags --get LDFLAGS)" \
    -DCMAKE_SHARED_LINKER_FLAGS="$(dpkg-buildflags --get LDFLAGS)" \
    -DCMAKE_MODULE_LINKER_FLAGS="$(dpkg-buildflags --get LDFLAGS)" >/dev/null
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
deb_dir=$work/cpack
if [ "$out_dir" != "$work" ]; then
  cp "$deb_dir"/*.deb "$out_dir/"
  deb_dir=$out_dir
fi
debs=("$deb_dir"/*_*.deb)
deb=$(ls "$deb_dir"/penamo_*.deb)
# The packages besides the programs', by package name.
declare -A part=()
for file in "${debs[@]}"; do
  [ "$file" = "$deb" ] || part[$(dpkg-deb -f "$file" Package)]=$file
done
printf '%s\n' "${debs[@]}"
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

step "The other packages' contents"
# Each file a package must hold, as a pattern of its path.
declare -A wants=(
  [libpenamo0]='usr/lib/.*libpenamo\.so\.0$'
  [libpenamo-dev]='usr/include/penamo\.h$ usr/lib/.*libpenamo\.so$'
  [python3-penamo]='usr/lib/python3/dist-packages/penamo/__init__\.py$ usr/lib/python3/dist-packages/penamo/__init__\.pyi$ usr/lib/python3/dist-packages/penamo/py\.typed$ usr/lib/python3/dist-packages/penamo/_penamo\.cpython-.*\.so$'
  [gegl-penamo]='usr/lib/.*/gegl-0\.4/penamo-dither\.so$')
# The development files the library's build makes, where it makes them.
[ ! -f capi/penamo.pc.in ] || wants[libpenamo-dev]+=' usr/lib/.*pkgconfig/penamo\.pc$'
[ ! -f capi/PenamoConfig.cmake.in ] || wants[libpenamo-dev]+=' usr/lib/.*cmake/Penamo/PenamoConfig\.cmake$'
for name in "${!part[@]}"; do
  dpkg-deb -c "${part[$name]}" | awk '{print $6}' >"$work/$name.contents"
  for pattern in ${wants[$name]:-} "usr/share/doc/$name/copyright$" "usr/share/doc/$name/changelog\.gz$"; do
    grep -q "$pattern" "$work/$name.contents" || fail "$name lacks $pattern"
  done
  [ "$(dpkg-deb -f "${part[$name]}" Version)" = "$version" ] || fail "$name has another version"
done
for name in libpenamo0 libpenamo-dev; do
  if grep -q 'libpenamo' "$work/contents.txt" && [ -z "${part[$name]:-}" ]; then
    fail "the programs use libpenamo but there is no $name"
  fi
done
if [ -n "${part[libpenamo0]:-}" ]; then
  dpkg-deb --ctrl-tarfile "${part[libpenamo0]}" | tar -xOf - ./shlibs | grep -q '^libpenamo 0 libpenamo0 ' ||
    fail "libpenamo0 has no shlibs entry"
  # The HEIF and JPEG XL libraries are opened on first use: no link tells dpkg-shlibdeps of them.
  for file in "${part[libpenamo0]}" "$deb"; do
    depends=$(dpkg-deb -f "$file" Depends)
    for library in libheif libjxl; do
      case $depends in
        *"$library"*) ;;
        *) fail "$(dpkg-deb -f "$file" Package) does not depend on $library, which it opens" ;;
      esac
    done
  done
fi

step "lintian"
lintian_args=(-I --pedantic --fail-on error)
[ "$(id -u)" -ne 0 ] || lintian_args+=(--allow-root)
for file in "${debs[@]}"; do
  lintian "${lintian_args[@]}" "$file" || fail "lintian reports errors in $(basename "$file")"
done

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
apt-get install -s "${debs[@]}" >"$work/apt-simulate.log" 2>&1 || {
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
  # Programs linking libpenamo find it in the throwaway root as they would in /usr/lib.
  local LD_LIBRARY_PATH=${LD_LIBRARY_PATH:-}
  if [ -n "$root" ]; then
    LD_LIBRARY_PATH=$(find "$root/usr/lib" -name 'libpenamo.so.0' -printf '%h\n' | head -1)
    export LD_LIBRARY_PATH
  fi
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
  check_parts_installed "$root"
}

# The library, the Python module and the GEGL operation, used from ROOT as their users use
# them: a C program built against the header and library, the module imported by Debian's
# python3, the operation run by the gegl command.
check_parts_installed() {
  local root=$1 libdir
  libdir=$(dirname "$(find "$root/usr/lib" -name 'libpenamo.so.0' | head -1)")
  if [ -n "${part[libpenamo-dev]:-}" ]; then
    printf '#include <penamo.h>\n#include <stdio.h>\nint main(void) { printf("%%s %%d\\n", penamo_version(), penamo_filter_count()); return penamo_filter_count() == 7 ? 0 : 1; }\n' >"$work/use.c"
    cc -std=c11 -Wall -Wextra -Werror -I"$root/usr/include" "$work/use.c" -L"$libdir" -lpenamo \
      -o "$work/use" && LD_LIBRARY_PATH=$libdir "$work/use" || fail "a C program cannot use the installed library"
  fi
  if [ -n "${part[python3-penamo]:-}" ]; then
    PYTHONPATH=$root/usr/lib/python3/dist-packages LD_LIBRARY_PATH=$libdir PYTHONDONTWRITEBYTECODE=1 \
      /usr/bin/python3 -c 'import numpy, penamo; out = penamo.filter(numpy.full((4, 5, 3), 100, numpy.uint8), "diffusion64"); assert out.shape == (4, 5, 3), out.shape; print("penamo", penamo.__version__, "imported")' ||
      fail "the installed Python module does not import or filter"
  fi
  if [ -n "${part[gegl-penamo]:-}" ] && command -v gegl >/dev/null; then
    local module_dir
    module_dir=$(dirname "$(find "$root/usr/lib" -name penamo-dither.so | head -1)")
    rm -f "$work/gegl-out.png"
    "$root/usr/bin/penamo-filter" none "$picture" "$work/gegl-in.png" &&
      GEGL_PATH=$module_dir:$(pkg-config gegl-0.4 --variable=pluginsdir 2>/dev/null || echo /usr/lib/x86_64-linux-gnu/gegl-0.4) \
        LD_LIBRARY_PATH=$libdir GEGL_SWAP=$work/swap XDG_CACHE_HOME=$work/home/.cache \
        gegl "$work/gegl-in.png" -o "$work/gegl-out.png" -- penamo:dither filter=pattern4 >/dev/null 2>&1 &&
      [ -s "$work/gegl-out.png" ] || fail "gegl does not run the installed penamo:dither"
  fi
}

step "Install into a throwaway root"
root=$work/root
mkdir -p "$root/var/lib/dpkg/info" "$root/var/lib/dpkg/updates" "$root/var/lib/dpkg/triggers"
touch "$root/var/lib/dpkg/status" "$root/var/lib/dpkg/available"
# The root holds no other package: its dependencies are the machine's, checked above.
dpkg_root=(dpkg --root="$root" --log="$work/dpkg.log" --force-depends)
[ "$(id -u)" -eq 0 ] || dpkg_root+=(--force-not-root)
# The library's maintainer scripts (ldconfig) cannot run inside a root without a shell; they run
# outside it, where they only refresh the machine's own library cache.
dpkg_root+=(--force-script-chrootless)
"${dpkg_root[@]}" -i "${debs[@]}" >"$work/dpkg-install.log" 2>&1 || {
  cat "$work/dpkg-install.log"
  fail "dpkg cannot install into a throwaway root"
}
check_installed "$root"

step "Remove, then purge, in the throwaway root"
left_behind() {
  find "$root" -mindepth 1 ! -path "$root/var" ! -path "$root/var/lib" ! -path "$root/var/lib/dpkg" \
    ! -path "$root/var/lib/dpkg/*"
}
names=()
for file in "${debs[@]}"; do names+=("$(dpkg-deb -f "$file" Package)"); done
# Removes and purges the named packages, and checks that nothing of them is left.
remove_and_purge() {
  "${dpkg_root[@]}" -r "$@" >/dev/null || fail "dpkg cannot remove $*"
  left=$(left_behind)
  [ -z "$left" ] || fail "left behind after removing $*: $left"
  # Without configuration files, removal forgets a package already; purge what remains if not.
  local name
  for name in "$@"; do
    if dpkg-query --admindir="$root/var/lib/dpkg" -W "$name" >/dev/null 2>&1; then
      "${dpkg_root[@]}" -P "$name" >/dev/null || fail "dpkg cannot purge $name"
    fi
    ! dpkg-query --admindir="$root/var/lib/dpkg" -W "$name" >/dev/null 2>&1 ||
      fail "dpkg still knows $name after the purge"
  done
  left=$(left_behind)
  [ -z "$left" ] || fail "left behind after purging $*: $left"
}
remove_and_purge "${names[@]}"

step "Each package alone: install, remove, purge"
for file in "${debs[@]}"; do
  name=$(dpkg-deb -f "$file" Package)
  "${dpkg_root[@]}" -i "$file" >"$work/dpkg-alone.log" 2>&1 || {
    cat "$work/dpkg-alone.log"
    fail "dpkg cannot install $name alone"
  }
  while read -r path; do
    [ -e "$root$path" ] || [ -L "$root$path" ] || fail "$name did not install $path"
  done < <("${dpkg_root[@]}" -L "$name" 2>/dev/null | grep -v '^/\.$')
  remove_and_purge "$name"
  echo "$name: installed, removed and purged"
done

if [ $system -eq 1 ]; then
  step "Install on this machine with apt, then purge"
  installed_here=()
  for name in "${names[@]}"; do
    ! dpkg-query -W -f='${Status}' "$name" 2>/dev/null | grep -q 'ok installed' || installed_here+=("$name")
  done
  if [ ${#installed_here[@]} -gt 0 ]; then
    fail "${installed_here[*]} installed here already; not touching them"
  else
    sudo=()
    [ "$(id -u)" -eq 0 ] || sudo=(sudo)
    # Whatever else apt would bring in goes again afterwards, so the machine stays as it was.
    extra=$(sed -n 's/^Inst \([^ ]*\) .*/\1/p' "$work/apt-simulate.log" |
      grep -vxF -f <(printf '%s\n' "${names[@]}") || true)
    DEBIAN_FRONTEND=noninteractive "${sudo[@]}" apt-get install -y -qq "${debs[@]}" >/dev/null
    dpkg -L "${names[@]}" >"$work/installed.txt"
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
    DEBIAN_FRONTEND=noninteractive "${sudo[@]}" apt-get purge -y -qq "${names[@]}" $extra >/dev/null
    while read -r path; do
      [ -d "$path" ] && continue
      [ ! -e "$path" ] || fail "left behind after purge: $path"
    done <"$work/installed.txt"
    for name in "${names[@]}"; do
      ! dpkg-query -W "$name" >/dev/null 2>&1 || fail "dpkg still knows $name"
    done
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
echo "package checks passed: $(for file in "${debs[@]}"; do basename "$file"; done | tr '\n' ' ')"
