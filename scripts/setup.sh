# Sourced by run.sh and test.sh: installs the Debian packages the build needs, once.
PENAMO_PACKAGES=(cmake ninja-build g++ qt6-base-dev qt6-base-dev-tools libgtest-dev libgmock-dev
  libbenchmark-dev fonts-ipafont-gothic xvfb xdotool imagemagick clang libclang-rt-14-dev
  clang-format qt6-translations-l10n)

# Manual pages (scdoc) and the package checks that CI runs (tests/package).
PENAMO_PACKAGES+=(scdoc desktop-file-utils appstream lintian dpkg-dev file)

# The picture formats' libraries (PNG, JPEG, TIFF, WebP), found through pkg-config; ISA-L's igzip
# deflates the PNG writer's output; libpng writes the tests' own PNG files.
PENAMO_PACKAGES+=(pkg-config libspng-dev libpng-dev libjpeg62-turbo-dev libtiff-dev libwebp-dev
  zlib1g-dev libisal-dev)
# GIF, HEIC/AVIF and JPEG XL (the HEVC and AV1 decoders come with libheif); the command-line
# encoders and decoders make the fuzz seeds and are the read-time benchmark's yardstick.
PENAMO_PACKAGES+=(libgif-dev libheif-dev libdav1d-dev liblcms2-dev libjxl-dev libheif-examples libavif-bin libjxl-tools)
# The Python module (pybind11, numpy; pytest and Pillow for its tests) and the GEGL operation
# (GEGL's development files; the gegl command runs it in the tests and the benchmark).
PENAMO_PACKAGES+=(python3-dev pybind11-dev python3-pybind11 python3-numpy python3-pytest
  python3-pil libgegl-dev gegl)

penamo_install_deps() {
  local missing=()
  for p in "${PENAMO_PACKAGES[@]}"; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
  done
  [ ${#missing[@]} -eq 0 ] && return 0
  echo "Installing: ${missing[*]}"
  local sudo=()
  [ "$(id -u)" -eq 0 ] || sudo=(sudo)
  "${sudo[@]}" apt-get update -qq
  DEBIAN_FRONTEND=noninteractive "${sudo[@]}" apt-get install -y -qq --no-install-recommends "${missing[@]}"
}

# Configures and builds one build tree; quick when nothing changed.
penamo_build() {
  local dir=$1; shift
  cmake -S . -B "$dir" -G Ninja "$@" >/dev/null
  cmake --build "$dir"
}
