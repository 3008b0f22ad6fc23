#!/usr/bin/env bash
# Runs COMMAND... when Wine can run the shipped 32-bit stub here (Debian's wine32:i386, which
# scripts/wine32.sh tries to install); otherwise exits 77, ctest's "skipped", saying why.
set -u
reason_file=${SFX_CACHE:-$HOME/.cache/sfxstub}/wine32-unavailable
if ! dpkg-query -W -f='${Status}' wine32:i386 2>/dev/null | grep -q 'install ok installed' ||
   [ ! -x /usr/lib/wine/wine ]; then
  reason="wine32:i386 is not installed"
  [ -s "$reason_file" ] && reason="$reason: $(head -n 1 "$reason_file")"
  echo "SKIP: the 32-bit stub cannot run under this Wine ($reason); its rows were not run"
  exit 77
fi
if [ ! -f "${SFX_STUB32:-}" ]; then
  echo "SKIP: no 32-bit stub at '${SFX_STUB32:-}' (build the win32 tree first: ./dev build)"
  exit 77
fi
exec "$@"
