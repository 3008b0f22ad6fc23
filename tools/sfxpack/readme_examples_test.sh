#!/usr/bin/env bash
# Runs every ```sh block of the README, in the order they stand, each in a fresh folder of fixtures,
# with the built sfxpack installed there as a user has it (bin/sfxpack beside share/sfxstub/, so no
# --stub is needed). A block fails the test when any of its commands fails.
# Blocks of the developers' commands (starting with ./dev) and the package manager's (sudo apt) are
# not run here: CI runs ./dev test itself, and sfxpack_package_install_test installs the .deb.
#   readme_examples_test.sh SFXPACK README STUB32 CERT_SCRIPT
# STUB32 is the real 32-bit stub the code-signing examples sign (exit 77, skipped, without it or
# without osslsigncode).
set -euo pipefail
tool=$(realpath "$1") readme=$(realpath "$2") stub32=$(realpath -m "$3") cert_script=$(realpath "$4")
if [ ! -f "$stub32" ] || ! command -v osslsigncode >/dev/null; then
  echo "needs $stub32 and osslsigncode (./dev build, scripts/deps.sh)"
  exit 77
fi
work=$(mktemp -d "${TMPDIR:-/tmp}/sfxpack-examples.XXXXXX")
trap 'rm -rf "$work"' EXIT

# The fixtures every block starts from: the tool installed, an installer, files to ship, the stub and
# a throwaway code-signing certificate.
fixture=$work/fixture
mkdir -p "$fixture/root/bin" "$fixture/root/share/sfxstub" "$fixture/payload" "$fixture/docs" "$fixture/build/win32"
cp "$tool" "$fixture/root/bin/sfxpack"
cp "$stub32" "$fixture/root/share/sfxstub/sfxstub.exe"
cp "$stub32" "$fixture/build/win32/sfxstub.exe"
{ printf 'MZ'; head -c 58 /dev/zero; printf '\100\0\0\0PE\0\0\144\206'; printf 'an installer\n'; } >"$fixture/installer.exe"
# "Wrapping an installer": installers by other names, an MSI (the compound-file signature is what
# build checks) and the MSI runner installed beside the stubs (a stand-in PE, as the installer is).
cp "$fixture/installer.exe" "$fixture/acme-installer.exe"
cp "$fixture/installer.exe" "$fixture/mysetup.exe"
cp "$fixture/installer.exe" "$fixture/root/share/sfxstub/msirunner.exe"
{ printf '\320\317\021\340\241\261\032\341'; head -c 504 /dev/zero; } >"$fixture/acme.msi"
printf 'read me\r\n' >"$fixture/readme.txt"
printf 'alpha\r\n' >"$fixture/payload/a.txt"
printf 'beta\r\n' >"$fixture/payload/b.txt"
printf 'read me\r\n' >"$fixture/docs/readme.txt"
# An icon of one 16x16 image, for the branding example.
python3 - "$fixture/kelvo.ico" <<'ICON'
import struct, sys
pixels = bytes([0x20, 0x60, 0xC0, 0xFF]) * 256
mask = bytes(4 * 16)
image = struct.pack("<IiiHHIIiiII", 40, 16, 32, 1, 32, 0, len(pixels) + len(mask), 0, 0, 0, 0) + pixels + mask
header = struct.pack("<HHH", 0, 1, 1) + struct.pack("<BBBBHHII", 16, 16, 0, 0, 1, 32, len(image), 22)
open(sys.argv[1], "wb").write(header + image)
ICON
bash "$cert_script" "$fixture" >/dev/null
export PATH=$fixture/root/bin:$PATH
# SIZE, which the two-step code-signing example takes from an earlier signing: found the same way.
SIZE=$(cd "$work" && sfxpack keygen -o size >/dev/null && sfxpack build --key size.key --setup "$fixture/installer.exe" \
  --stub "$stub32" --authenticode "osslsigncode sign -certs '$fixture/cs.crt' -key '$fixture/cs.key' -in {in} -out {out} >/dev/null" \
  -o size.exe | sed -n 's/.*certificate table \([0-9]*\) bytes.*/\1/p')
export SIZE
[ -n "$SIZE" ] || { echo "FAILED: no certificate table size from a first signing"; exit 1; }

# The reference names every command and every switch the tool has.
missing=0
for command in $(sfxpack help | sed -n 's/^  \([a-z-]*\) .*/\1/p' | grep -vx 'help\|version'); do
  grep -qF -- "\`$command" "$readme" || { echo "FAILED: the README does not name the command $command"; missing=1; }
  for option in $(sfxpack help "$command" | sed -n 's/^  \(-., \)\{0,1\}\(--[a-z-]*\).*/\2/p'); do
    grep -qF -- "\`$option" "$readme" || grep -qF -- ", \`$option" "$readme" ||
      { echo "FAILED: the README does not name $command $option"; missing=1; }
  done
done
[ $missing -eq 0 ] || exit 1

# The blocks, separated by NUL characters.
blocks=$(awk '/^```sh$/ { on = 1; block = ""; next } on && /^```$/ { on = 0; printf "%s%c", block, 0; next }
              on { block = block $0 "\n" }' "$readme" | tr '\0' '\036')
ran=0 skipped=0 failures=0 index=0
while IFS= read -r -d $'\036' block; do
  index=$((index + 1))
  first=$(grep -v '^#' <<<"$block" | grep -m1 . || true)
  case $first in
    ./dev*|sudo\ apt*) skipped=$((skipped + 1)); continue ;;
  esac
  dir=$work/block$index
  cp -a "$fixture" "$dir"
  # A block that does not make the key finds the one the quick start made.
  if ! grep -q 'keygen --out mykey' <<<"$block"; then
    (cd "$dir" && sfxpack keygen --out mykey >/dev/null)
  fi
  if ! out=$(cd "$dir" && bash -euo pipefail -c "$block" 2>&1); then
    printf 'FAILED: block %d:\n%s\n--- output:\n%s\n' "$index" "$block" "$out"
    failures=$((failures + 1))
  fi
  ran=$((ran + 1))
done <<<"$blocks"
echo "README examples: $ran blocks run, $skipped left to CI and the package test, $failures failed"
[ $ran -gt 0 ] && [ $failures -eq 0 ]
