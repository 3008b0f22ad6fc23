#!/usr/bin/env bash
# A disk that fills up while the stub writes a listed file: the run fails with 112 ("disk full") at
# the stage "extracting files", as on Windows, and leaves no run folder behind. The full disk is a
# small tmpfs as TEMP, so the test needs the right to mount one (root, as in CI's container); without
# it the test is skipped, saying so.
#   disk_full_test.sh WINE_RUN LAUNCHER SFXPACK STUB PROBE
set -uo pipefail
wine_run=$1 launcher=$2 sfxpack=$3 stub=$4 probe=$5
work=$(mktemp -d "${TMPDIR:-/tmp}/sfx-diskfull.XXXXXX")
full=$work/full
cleanup() { umount "$full" 2>/dev/null; rm -rf "$work"; }
trap cleanup EXIT
mkdir -p "$full"
if ! mount -t tmpfs -o size=4m tmpfs "$full" 2>/dev/null; then
  echo "SKIP: cannot mount a small tmpfs to fill (needs root): the full-disk case is not tested here"
  exit 77
fi
"$sfxpack" keygen --out "$work/key" >/dev/null || exit 1
head -c $((12 * 1024 * 1024)) /dev/zero >"$work/big.bin"
"$sfxpack" build --stub "$stub" --key "$work/key.key" --setup "$probe" --command '/full' \
  --file big.bin="$work/big.bin" -o "$work/full.exe" >/dev/null || exit 1
out=$("$wine_run" "$launcher" --set TEMP="Z:${full//\//\\}" --args /verysilent "$work/full.exe")
status=0
grep -qF 'exit code: 0x00000070 (112)' <<<"$out" || { echo "FAIL: not 112 (disk full)"; status=1; }
grep -qF 'message box: An error 112 (00000070) has occured.\nLast performed operation was:\nextracting files' \
  <<<"$out" || { echo "FAIL: no 'disk full' box for the stage 'extracting files'"; status=1; }
leftovers=$(ls -A "$full")
[ -z "$leftovers" ] || { echo "FAIL: left in TEMP: $leftovers"; status=1; }
[ $status -eq 0 ] || printf '%s\n' "$out"
exit $status
