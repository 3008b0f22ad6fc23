#!/usr/bin/env bash
# Runs COMMAND... for the shipped 32-bit stub's rows when Wine's 32-bit loader is set up here
# (scripts/wine32.sh: a private root with the i386 loader under qemu-i386); otherwise exits 77,
# ctest's "skipped", saying why.
# A command run through wine-run gets a WoW64 prefix of its own, booted once by the root's 64-bit
# loader (which starts the 32-bit one for 32-bit programs): SFX_WINEPREFIX32 (./dev test makes a
# fresh one per run), else one beside the 64-bit tests' default prefix.
set -u
cache=${SFX_CACHE:-$HOME/.cache/sfxstub}
root=$cache/wine32-root
loader=$root/usr/lib/wine/wine64
if [ ! -f "$root/.ready" ] || [ ! -x "$loader" ] || [ ! -x "$root/usr/lib/wine/wine" ]; then
  reason="scripts/wine32.sh has not set it up in $root"
  [ -s "$cache/wine32-unavailable" ] && reason=$(head -n 1 "$cache/wine32-unavailable")
  echo "SKIP: the 32-bit stub cannot run under this Wine ($reason); its rows were not run"
  exit 77
fi
if [ ! -f "${SFX_STUB32:-}" ]; then
  echo "SKIP: no 32-bit stub at '${SFX_STUB32:-}' (build the win32 tree first: ./dev build)"
  exit 77
fi
[ "$(basename "$1")" = wine-run ] || exec "$@"

export WINEDEBUG=${WINEDEBUG:--all}
export WINEDLLOVERRIDES=${WINEDLLOVERRIDES:-"mscoree,mshtml="}
export WINEPREFIX=${SFX_WINEPREFIX32:-${TMPDIR:-/tmp}/sfxstub-wine32-$(id -u)}
export SFX_WINE64=$loader
(
  flock 9
  [ -f "$WINEPREFIX/.sfx-wow64" ] && exit 0
  rm -rf "$WINEPREFIX" && mkdir -p "$WINEPREFIX"
  echo "stub32: booting the WoW64 prefix $WINEPREFIX (the 32-bit half runs under qemu-i386)"
  "$loader" wineboot --init >"$WINEPREFIX.log" 2>&1
  syswow64=$WINEPREFIX/drive_c/windows/syswow64
  if [ ! -f "$syswow64/kernel32.dll" ]; then
    echo "stub32: the prefix has no 32-bit system folder after wineboot:" >&2
    tail -n 20 "$WINEPREFIX.log" >&2
    exit 1
  fi
  # Debian's Wine takes zlib1.dll from libz-mingw-w64 (user32 imports it); wineboot leaves it out.
  cp "$root/usr/i686-w64-mingw32/lib/zlib1.dll" "$syswow64/" || exit 1
  "$root/usr/lib/wine/wineserver" -p 600 >/dev/null 2>&1
  touch "$WINEPREFIX/.sfx-wow64"
) 9>"$WINEPREFIX.lock" || exit 1
exec "$@"
