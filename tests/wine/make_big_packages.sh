#!/usr/bin/env bash
# Builds the packages of the big-package test, with the host's sfxpack:
#   make_big_packages.sh SFXPACK STUB PROBE OUTDIR
# OUTDIR gets a fresh key, the payload (sparse where the file system allows) and:
#   empty.exe  the probe alone, no listed files: the baseline for the stub's memory
#   big.exe    the probe padded to 256 MiB as the setup program, and one listed file of 1 GiB, stored
#   deflated.exe  the probe, a compressible listed file of 256 MiB and a few small ones, deflated
# The payload holds a few bytes that are not zero near the start, the end and the piece boundaries,
# so that a file written from the wrong place does not pass for the right one.
set -euo pipefail
sfxpack=$1 stub=$2 probe=$3 out=$4
if [ ! -x "$sfxpack" ]; then
  echo "make_big_packages.sh: no host sfxpack at $sfxpack (build the host tree first: ./dev build)" >&2
  exit 1
fi
unset SOURCE_DATE_EPOCH
rm -rf "$out"
mkdir -p "$out/payload"
mark() {  # file offset text
  printf '%s' "$3" | dd of="$1" bs=1 seek="$2" conv=notrunc status=none
}
setup=$out/payload/setup.exe big=$out/payload/big.bin
cp "$probe" "$setup"
truncate -s $((256 * 1024 * 1024)) "$setup"
mark "$setup" $((200 * 1024 * 1024 + 3)) "setup program marker"
truncate -s $((1024 * 1024 * 1024)) "$big"
for at in 0 $((4 * 1024 * 1024 - 5)) $((512 * 1024 * 1024 + 1)) $((1024 * 1024 * 1024 - 32)); do
  mark "$big" "$at" "marker@$at"
done
touch -d @1600000000 "$big"
deflated=$out/payload/deflated.bin
truncate -s $((256 * 1024 * 1024)) "$deflated"
for at in 0 $((4 * 1024 * 1024 - 5)) $((128 * 1024 * 1024 + 1)) $((256 * 1024 * 1024 - 32)); do
  mark "$deflated" "$at" "marker@$at"
done
for i in 1 2 3; do
  for line in $(seq 1 $((i * 300))); do echo "small file $i, line $line"; done >"$out/payload/small$i.txt"
done
: >"$out/payload/empty.txt"

"$sfxpack" keygen --out "$out/key" >/dev/null
"$sfxpack" build --stub "$stub" --key "$out/key.key" --setup "$probe" --command '/empty' \
  -o "$out/empty.exe" >/dev/null
"$sfxpack" build --stub "$stub" --key "$out/key.key" --setup "$setup" --command '/big' \
  --store --file big.bin="$big" -o "$out/big.exe" >/dev/null
"$sfxpack" build --stub "$stub" --key "$out/key.key" --setup "$probe" --command '/deflated' \
  --file deflated.bin="$deflated" --file small1.txt="$out/payload/small1.txt" \
  --file small2.txt="$out/payload/small2.txt" --file small3.txt="$out/payload/small3.txt" \
  --file empty.txt="$out/payload/empty.txt" -o "$out/deflated.exe" >/dev/null
# Deflated it must be, or the test below proves nothing.
"$sfxpack" list "$out/deflated.exe" | grep -q ' deflated  deflated.bin$' ||
  { echo "make_big_packages.sh: deflated.bin was not deflated (a stub without the feature marker?)" >&2; exit 1; }
echo "packages in $out"
