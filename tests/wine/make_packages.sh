#!/usr/bin/env bash
# Builds the packages the end-to-end tests run, with the host's sfxpack:
#   make_packages.sh SFXPACK STUB PROBE OUTDIR
# OUTDIR gets a fresh key, the payload files (with fixed modification times) and:
#   good.exe     the probe as setup program, three listed files, a template using every placeholder
#   longcmd.exe  the same with a template too long for the setup program's command line
#   unicode.exe  the probe and files named with accents, CJK and an emoji (UTF-8), from --dir and --file
#   large.exe    the probe and one 64 MiB file: extraction lasts long enough under Wine (some
#                hundreds of ms) for a progress window to be seen, or its absence to mean something
set -euo pipefail
sfxpack=$1 stub=$2 probe=$3 out=$4
if [ ! -x "$sfxpack" ]; then
  echo "make_packages.sh: no host sfxpack at $sfxpack (build the host tree first: ./dev build)" >&2
  exit 1
fi
unset SOURCE_DATE_EPOCH
rm -rf "$out"
mkdir -p "$out/payload"
printf 'read me\r\n' >"$out/payload/readme.txt"
head -c 70000 /dev/urandom >"$out/payload/data.bin"
: >"$out/payload/empty.txt"
touch -d @1500000000 "$out/payload/readme.txt"
touch -d @1600000000 "$out/payload/data.bin"
touch -d @1234567890 "$out/payload/empty.txt"

"$sfxpack" keygen --out "$out/key" >/dev/null
files=(--file readme.txt="$out/payload/readme.txt" --file data.bin="$out/payload/data.bin"
       --file empty.txt="$out/payload/empty.txt")
"$sfxpack" build --stub "$stub" --key "$out/key.key" --setup "$probe" \
  --command '/a "%SRCPATH%" /t "%TMPPATH%" /c [%CMDLINE%] /l %srcpath%' "${files[@]}" \
  -o "$out/good.exe" >/dev/null
"$sfxpack" build --stub "$stub" --key "$out/key.key" --setup "$probe" \
  --command "/long $(printf 'x%.0s' $(seq 300))" -o "$out/longcmd.exe" >/dev/null
mkdir -p "$out/unicode"
printf 'accents' >"$out/unicode/résumé ünïcode.txt"
printf 'cjk' >"$out/unicode/日本語.txt"
"$sfxpack" build --stub "$stub" --key "$out/key.key" --setup "$probe" --command '/unicode' \
  --dir "$out/unicode" --file "😀 emoji.txt=$out/payload/readme.txt" -o "$out/unicode.exe" >/dev/null
# The large payload is not kept: only the package is needed.
head -c $((64 * 1024 * 1024)) /dev/zero >"$out/large.bin"
"$sfxpack" build --stub "$stub" --key "$out/key.key" --setup "$probe" --command '/large' \
  --file large.bin="$out/large.bin" -o "$out/large.exe" >/dev/null
rm -f "$out/large.bin"
"$sfxpack" verify "$out/good.exe" >/dev/null
echo "packages in $out"
