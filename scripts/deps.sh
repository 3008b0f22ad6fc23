#!/usr/bin/env bash
# Installs the system packages the build and the tests need. Idempotent and quiet when all is present.
set -euo pipefail

# ./dev demo's first set: what the host tool builds with (the demo builds it while the rest installs).
demo_host=(cmake g++ make pkg-config zlib1g-dev libcrypto++-dev libtommath-dev libtomcrypt-dev libgtest-dev
           dpkg-dev python3)
if [ "${SFX_PACKAGE_SET:-all}" = demo-host ]; then
  packages=("${demo_host[@]}")
elif [ "${SFX_PACKAGE_SET:-all}" = demo ]; then
  # ./dev demo: the host tool, the 64-bit stub and the Wine run; no 32-bit, sanitizer or fuzz toolchain.
  packages=(
    "${demo_host[@]}"
    g++-mingw-w64-x86-64-posix gcc-mingw-w64-x86-64-posix libz-mingw-w64-dev
    wine64 xvfb xauth openssl osslsigncode
  )
else
  packages=(
    cmake g++ make pkg-config zlib1g-dev libcrypto++-dev libtommath-dev libtomcrypt-dev libgtest-dev googletest libbenchmark-dev
    g++-mingw-w64-i686-posix g++-mingw-w64-x86-64-posix gcc-mingw-w64-i686-posix gcc-mingw-w64-x86-64-posix
    g++-mingw-w64-i686-win32 g++-mingw-w64-x86-64-win32 gcc-mingw-w64-i686-win32 gcc-mingw-w64-x86-64-win32
    binutils-mingw-w64 libz-mingw-w64-dev
    wine64 xvfb xauth x11-utils openssl osslsigncode dpkg-dev python3 clang libclang-rt-14-dev groff-base
    llvm python3-pefile icoutils
    nsis wixl  # the installer tests wrap setups made by makensis and wixl
  )
fi
# Callers may ask for more (./dev bench: the peers it measures against).
read -r -a extra <<<"${SFX_EXTRA_PACKAGES:-}"
packages+=("${extra[@]}")

# Wine's 32-bit loader in a private root, for the shipped 32-bit stub's Wine tests: set up once a
# machine, never fatal. A reason left by a failed attempt of the same method is not tried again
# unless SFX_RETRY_WINE32 is set.
wine32() {
  local cache=${SFX_CACHE:-$HOME/.cache/sfxstub}
  case ${SFX_PACKAGE_SET:-all} in demo*) return 0 ;; esac  # ./dev demo runs the 64-bit stub only
  if [ -z "${SFX_RETRY_WINE32:-}" ] && tail -n 1 "$cache/wine32-unavailable" 2>/dev/null |
       grep -qx "$(sed -n 's/^method="\(.*\)"$/\1/p' "$(dirname "$0")/wine32.sh")"; then
    return 0
  fi
  bash "$(dirname "$0")/wine32.sh"
}

missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
done

src_list=/etc/apt/sources.list.d/sfxstub-deb-src.sources
need_src=0
if ! grep -rqs '^Types:.*deb-src' /etc/apt/sources.list.d/ && ! grep -qs '^deb-src' /etc/apt/sources.list; then
  need_src=1
fi

if [ ${#missing[@]} -eq 0 ] && [ $need_src -eq 0 ]; then
  wine32
  exit 0
fi

SUDO=""
[ "$(id -u)" -eq 0 ] || SUDO=sudo

if [ $need_src -eq 1 ]; then
  # Debian's source packages of Crypto++, libtommath and libtomcrypt are built for mingw; apt-get
  # source needs a deb-src entry.
  $SUDO tee "$src_list" >/dev/null <<'SRC'
Types: deb-src
URIs: http://deb.debian.org/debian
Suites: bookworm bookworm-updates
Components: main
Signed-By: /usr/share/keyrings/debian-archive-keyring.gpg
SRC
fi

echo "deps: installing ${missing[*]:-source lists}" >&2
export DEBIAN_FRONTEND=noninteractive
# Lists fetched in the last half hour are fresh enough (the demo's second install follows its first).
[ -n "$(find /var/lib/apt/lists -maxdepth 0 -mmin -30 2>/dev/null)" ] && [ $need_src -eq 0 ] ||
  $SUDO apt-get update -qq
if [ ${#missing[@]} -gt 0 ]; then
  # dpkg's sync after every file is most of a bare machine's install time; a crash mid-install is
  # mended by running this again.
  $SUDO apt-get install -y -qq --no-install-recommends -o Dpkg::Options::=--force-unsafe-io "${missing[@]}" >/dev/null
fi
wine32
