#!/usr/bin/env bash
# The C interface as a C program meets it: the library and its development files installed by
# `cmake --install` into a prefix inside the build tree, tests/capi/c-client.c compiled as C11
# with every warning an error against the installed header, found by pkg-config alone, then run
# against the installed library. docs/api.md shows the same program, byte for byte.
#
#   installed-client.sh BUILD_DIR SOURCE_DIR VERSION [SANITIZER_FLAGS]
#
# A sanitizer build's library needs its runtime in the program too: SANITIZER_FLAGS (as the
# build passes them, e.g. -fsanitize=address,undefined) are added to the program's compile.
set -euo pipefail
build=$1 source=$2 version=$3 sanitize=${4:-}
prefix=$build/capi-installed
rm -rf "$prefix"
for component in libpenamo libpenamo-dev; do
  cmake --install "$build" --prefix "$prefix" --component "$component" >/dev/null
done

# The example in the documentation is this program.
sed -n '/^<!-- c-client.c -->$/,/^```$/p' "$source/docs/api.md" | sed '1,2d;$d' >"$prefix/example.c"
if ! cmp -s "$prefix/example.c" "$source/tests/capi/c-client.c"; then
  echo "docs/api.md's C example differs from tests/capi/c-client.c:"
  diff "$source/tests/capi/c-client.c" "$prefix/example.c" || true
  exit 1
fi

export PKG_CONFIG_PATH=$(dirname "$(find "$prefix" -name penamo.pc)")
# shellcheck disable=SC2046 # the flags are words
cc -std=c11 -Wall -Wextra -Werror -pedantic $sanitize "$source/tests/capi/c-client.c" \
  $(pkg-config --cflags --libs penamo) -o "$prefix/c-client"
LD_LIBRARY_PATH=$(pkg-config --variable=libdir penamo) "$prefix/c-client" >"$prefix/output.txt"
cat >"$prefix/expected.txt" <<END
penamo $version
filters: pattern4 pattern16 diffusion64 diffusion32 diffusion16 diffusion ordered
grey levels used: 0 85 170 255
PENAMO_INVALID_ARGUMENT (unknown-filter): 不明なフィルタです: diffusion8.
END
if ! diff "$prefix/expected.txt" "$prefix/output.txt"; then
  echo "the C program's output differs from what it should print (above)"
  exit 1
fi

# The CMake package is found and gives the imported target.
mkdir -p "$prefix/cmake-client"
cat >"$prefix/cmake-client/CMakeLists.txt" <<END
cmake_minimum_required(VERSION 3.25)
project(client LANGUAGES C)
find_package(Penamo 0.8 REQUIRED)
add_executable(c-client $source/tests/capi/c-client.c)
target_link_libraries(c-client PRIVATE Penamo::penamo)
END
cmake -S "$prefix/cmake-client" -B "$prefix/cmake-client/build" -G Ninja \
  -DCMAKE_PREFIX_PATH="$prefix" -DCMAKE_C_FLAGS="-std=c11 -Wall -Wextra -Werror $sanitize" \
  >/dev/null
cmake --build "$prefix/cmake-client/build" >/dev/null
"$prefix/cmake-client/build/c-client" | diff "$prefix/expected.txt" -
echo "the installed library, header, pkg-config file and CMake package serve a C11 program"
rm -rf "$prefix"
