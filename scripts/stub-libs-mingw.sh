#!/usr/bin/env bash
# Builds the C libraries the stub links (libtommath, MD5 from libtomcrypt, zlib's inflate) for both
# mingw-w64 targets from Debian's source packages, with the stub's flags, into cache folders outside
# the repository. Reused when present. Prints nothing when the cache is complete.
#   stub-libs-mingw.sh [ARCH...]   (i686, x86_64; both by default)
set -euo pipefail
here=$(cd "$(dirname "$0")/.." && pwd)
cache=${SFX_CACHE:-$HOME/.cache/sfxstub}
stamp_version=3
mkdir -p "$cache"

libs=(libtommath libtomcrypt zlib-inflate)
done_for() {
  local lib
  for lib in "${libs[@]}"; do [ -f "$cache/$lib-mingw/$1/.complete-$stamp_version" ] || return 1; done
}
arches=("$@")
[ ${#arches[@]} -gt 0 ] || arches=(i686 x86_64)
complete=1
for arch in "${arches[@]}"; do done_for "$arch" || complete=0; done
[ $complete -eq 0 ] || exit 0

source_dir() {  # Debian source package name
  local src
  src=$(ls -d "$cache"/src/"$1"-[0-9]*/ 2>/dev/null | head -n 1 || true)
  if [ -z "$src" ]; then
    mkdir -p "$cache/src"
    (cd "$cache/src" && apt-get source -qq "$1" >/dev/null 2>&1) || {
      echo "stub-libs-mingw: apt-get source $1 failed (is a deb-src entry present?)" >&2; exit 1; }
    src=$(ls -d "$cache"/src/"$1"-[0-9]*/ | head -n 1)
  fi
  echo "$src"
}
# One fetch of the sources at a time (Crypto++'s may be fetched alongside).
mkdir -p "$cache/src"
exec 9>"$cache/src/.lock"
flock 9
math_src=$(source_dir libtommath)
crypt_src=$(source_dir libtomcrypt)
zlib_src=$(source_dir zlib)
flock -u 9

for arch in "${arches[@]}"; do
  done_for $arch && continue
  echo "stub-libs-mingw: building for $arch (once; cached in $cache)" >&2
  build="$cache/stub-libs-mingw-build-$arch"
  for lib in "${libs[@]}"; do rm -rf "${cache:?}/$lib-mingw/$arch"; done
  rm -rf "$build"
  cmake -S "$here/cmake/stub-libs-mingw" -B "$build" -DCMAKE_BUILD_TYPE=Release \
    -DCMAKE_TOOLCHAIN_FILE="$here/cmake/toolchain-$arch-mingw.cmake" \
    -DLIBTOMMATH_SOURCE_DIR="$math_src" -DLIBTOMCRYPT_SOURCE_DIR="$crypt_src" -DZLIB_SOURCE_DIR="$zlib_src" \
    -DLIBTOMMATH_PREFIX="$cache/libtommath-mingw/$arch" -DLIBTOMCRYPT_PREFIX="$cache/libtomcrypt-mingw/$arch" \
    -DZLIB_INFLATE_PREFIX="$cache/zlib-inflate-mingw/$arch" >/dev/null
  cmake --build "$build" -j"$(nproc)" >/dev/null
  cmake --install "$build" >/dev/null
  rm -rf "$build"
  for lib in "${libs[@]}"; do touch "$cache/$lib-mingw/$arch/.complete-$stamp_version"; done
done
