#!/usr/bin/env bash
# The Windows zip as a user gets it: made by scripts/windows_zip.py from the build trees, unpacked
# into the Wine prefix's C: drive, and used there with no --stub: keygen, build, verify, list and
# extract, the build taking the zip's own share\sfxstub\sfxstub.exe.
#   windows_zip_test.sh WINE_RUN ROOT PROBE
set -euo pipefail
wine_run=$1 root=$2 probe=$3
work=$(mktemp -d "${TMPDIR:-/tmp}/sfxpack-zip.XXXXXX")
prefix=${WINEPREFIX:-${TMPDIR:-/tmp}/sfxstub-wine-$(id -u)}
mkdir -p "$prefix/drive_c"
unpacked=$(mktemp -d "$prefix/drive_c/zip-test.XXXXXX")
trap 'rm -rf "$work" "$unpacked"' EXIT
fail() { echo "FAIL: $*" >&2; exit 1; }

zip=$(python3 "$root/scripts/windows_zip.py" "$root" "$work")
python3 -m zipfile -l "$zip"
python3 -m zipfile -e "$zip" "$unpacked"
top=$(ls "$unpacked")
tool=$unpacked/$top/bin/sfxpack.exe
for f in bin/sfxpack.exe share/sfxstub/sfxstub.exe share/sfxstub/sfxstub64.exe share/sfxstub/msirunner.exe \
         share/sfxstub/msirunner64.exe README-windows.txt LICENSE.txt \
         sfxpack.txt; do
  [ -f "$unpacked/$top/$f" ] || fail "the zip has no $f"
done
if x86_64-w64-mingw32-objdump -h "$tool" | grep -q '\.debug'; then fail "sfxpack.exe keeps debug sections"; fi
grep -q "zlib" "$unpacked/$top/LICENSE.txt" || grep -q "This software is provided 'as-is'" "$unpacked/$top/LICENSE.txt" ||
  fail "LICENSE.txt is not the licence"
grep -q "RESPONSE FILES" "$unpacked/$top/sfxpack.txt" || fail "sfxpack.txt is not the manual"

cd "$unpacked"
cp "$probe" setup.exe
mkdir payload && printf 'alpha\r\n' >payload/a.txt
wine() { "$wine_run" "$tool" "$@" | tr -d '\r'; }
out=$(wine keygen --out k) || fail "keygen exits $?"
echo "$out"
fingerprint=$(sed -n 's/^key //p' <<<"$out")
out=$(wine build --key k.key --setup setup.exe --command '/S %CMDLINE%' --dir payload -o pkg.exe) ||
  fail "build exits $?"
echo "$out"
grep -qi 'stub .*share.sfxstub.sfxstub\.exe' <<<"$out" || fail "build did not take the zip's stub: $out"
cmp <(head -c 4096 pkg.exe | tail -c 3000) <(head -c 4096 "$top/share/sfxstub/sfxstub.exe" | tail -c 3000) ||
  fail "the package does not start with the zip's 32-bit stub"
out=$(wine verify --fingerprint "$fingerprint" pkg.exe) || fail "verify exits $?"
echo "$out"
out=$(wine list pkg.exe) || fail "list exits $?"
echo "$out"
grep -q 'a.txt' <<<"$out" || fail "list does not show a.txt"
wine extract pkg.exe out || fail "extract exits $?"
cmp payload/a.txt out/a.txt && cmp setup.exe out/setup.ovr || fail "extract wrote other bytes"
out=$(wine --version) || fail "--version exits $?"
grep -q 'licence: zlib' <<<"$out" || fail "--version names no licence: $out"
echo "the zip works"
