#!/usr/bin/env bash
# Builds Crypto++ for both mingw-w64 targets from Debian's source package into a cache folder outside
# the repository. Reused when present. Prints nothing when the cache is complete.
#   cryptopp-mingw.sh [ARCH...]   (i686, x86_64; both by default)
set -euo pipefail
here=$(cd "$(dirname "$0")/.." && pwd)
cache=${SFX_CACHE:-$HOME/.cache/sfxstub}
stamp_version=2
mkdir -p "$cache"

done_for() { [ -f "$cache/cryptopp-mingw/$1/.complete-$stamp_version" ]; }
# The template definitions the headers include on request (see sfxstub/verify/crypto_templates.cc);
# earlier caches were installed without them.
has_templates() { [ -f "$cache/cryptopp-mingw/$1/include/cryptopp/algebra.cpp" ]; }
arches=("$@")
[ ${#arches[@]} -gt 0 ] || arches=(i686 x86_64)
complete=1
for arch in "${arches[@]}"; do done_for "$arch" && has_templates "$arch" || complete=0; done
[ $complete -eq 0 ] || exit 0

# One fetch of the sources at a time: the builds of both targets may start together.
mkdir -p "$cache/src"
exec 9>"$cache/src/.lock"
flock 9
src=$(ls -d "$cache"/src/libcrypto++-*/ 2>/dev/null | head -n 1 || true)
if [ -z "$src" ]; then
  (cd "$cache/src" && apt-get source -qq libcrypto++ >/dev/null 2>&1) || {
    echo "cryptopp-mingw: apt-get source libcrypto++ failed (is a deb-src entry present?)" >&2; exit 1; }
  src=$(ls -d "$cache"/src/libcrypto++-*/ | head -n 1)
fi
flock -u 9

for arch in "${arches[@]}"; do
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
