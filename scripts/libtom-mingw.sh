#!/usr/bin/env bash
# Builds the parts of libtommath and libtomcrypt the stub uses (big-number arithmetic, MD5) for both
# mingw-w64 targets from Debian's source packages, into cache folders outside the repository. Reused
# when present. Prints nothing when the cache is complete.
set -euo pipefail
here=$(cd "$(dirname "$0")/.." && pwd)
cache=${SFX_CACHE:-$HOME/.cache/sfxstub}
stamp_version=1
mkdir -p "$cache"

done_for() {
  [ -f "$cache/libtommath-mingw/$1/.complete-$stamp_version" ] &&
    [ -f "$cache/libtomcrypt-mingw/$1/.complete-$stamp_version" ]
}
if done_for i686 && done_for x86_64; then exit 0; fi

source_dir() {  # Debian source package name
  local src
  src=$(ls -d "$cache"/src/"$1"-[0-9]*/ 2>/dev/null | head -n 1 || true)
  if [ -z "$src" ]; then
    mkdir -p "$cache/src"
    (cd "$cache/src" && apt-get source -qq "$1" >/dev/null 2>&1) || {
      echo "libtom-mingw: apt-get source $1 failed (is a deb-src entry present?)" >&2; exit 1; }
    src=$(ls -d "$cache"/src/"$1"-[0-9]*/ | head -n 1)
  fi
  echo "$src"
}
math_src=$(source_dir libtommath)
crypt_src=$(source_dir libtomcrypt)

for arch in i686 x86_64; do
  done_for $arch && continue
  echo "libtom-mingw: building for $arch (once; cached in $cache)" >&2
  build="$cache/libtom-mingw-build-$arch"
  math_prefix="$cache/libtommath-mingw/$arch"
  crypt_prefix="$cache/libtomcrypt-mingw/$arch"
  rm -rf "$build" "$math_prefix" "$crypt_prefix"
  cmake -S "$here/cmake/libtom-mingw" -B "$build" -DCMAKE_BUILD_TYPE=Release \
    -DCMAKE_TOOLCHAIN_FILE="$here/cmake/toolchain-$arch-mingw.cmake" \
    -DLIBTOMMATH_SOURCE_DIR="$math_src" -DLIBTOMCRYPT_SOURCE_DIR="$crypt_src" \
    -DLIBTOMMATH_PREFIX="$math_prefix" -DLIBTOMCRYPT_PREFIX="$crypt_prefix" >/dev/null
  cmake --build "$build" -j"$(nproc)" >/dev/null
  cmake --install "$build" >/dev/null
  rm -rf "$build"
  touch "$math_prefix/.complete-$stamp_version" "$crypt_prefix/.complete-$stamp_version"
done
