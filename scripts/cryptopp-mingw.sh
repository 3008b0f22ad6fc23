#!/usr/bin/env bash
# Builds Crypto++ for both mingw-w64 targets from Debian's source package into a cache folder outside
# the repository. Reused when present. Prints nothing when the cache is complete.
set -euo pipefail
here=$(cd "$(dirname "$0")/.." && pwd)
cache=${SFX_CACHE:-$HOME/.cache/sfxstub}
stamp_version=2
mkdir -p "$cache"

done_for() { [ -f "$cache/cryptopp-mingw/$1/.complete-$stamp_version" ]; }
# The template definitions the headers include on request (see sfxstub/verify/crypto_templates.cc);
# earlier caches were installed without them.
has_templates() { [ -f "$cache/cryptopp-mingw/$1/include/cryptopp/algebra.cpp" ]; }
if done_for i686 && done_for x86_64 && has_templates i686 && has_templates x86_64; then exit 0; fi

src=$(ls -d "$cache"/src/libcrypto++-*/ 2>/dev/null | head -n 1 || true)
if [ -z "$src" ]; then
  mkdir -p "$cache/src"
  (cd "$cache/src" && apt-get source -qq libcrypto++ >/dev/null 2>&1) || {
    echo "cryptopp-mingw: apt-get source libcrypto++ failed (is a deb-src entry present?)" >&2; exit 1; }
  src=$(ls -d "$cache"/src/libcrypto++-*/ | head -n 1)
fi

for arch in i686 x86_64; do
  if done_for $arch; then
    has_templates $arch || cp "$src/algebra.cpp" "$cache/cryptopp-mingw/$arch/include/cryptopp/"
    continue
  fi
  echo "cryptopp-mingw: building for $arch (once; cached in $cache)" >&2
  build="$cache/cryptopp-mingw/build-$arch"
  prefix="$cache/cryptopp-mingw/$arch"
  rm -rf "$build" "$prefix"
  cmake -S "$here/cmake/cryptopp-mingw" -B "$build" -DCMAKE_BUILD_TYPE=Release \
    -DCMAKE_TOOLCHAIN_FILE="$here/cmake/toolchain-$arch-mingw.cmake" \
    -DCRYPTOPP_SOURCE_DIR="$src" -DCMAKE_INSTALL_PREFIX="$prefix" >/dev/null
  cmake --build "$build" -j"$(nproc)" >/dev/null
  cmake --install "$build" >/dev/null
  rm -rf "$build"
  touch "$prefix/.complete-$stamp_version"
done
