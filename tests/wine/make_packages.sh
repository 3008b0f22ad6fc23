#!/usr/bin/env bash
# Builds the packages the end-to-end tests run, with the host's sfxpack:
#   make_packages.sh SFXPACK STUB PROBE OUTDIR
# OUTDIR gets a fresh key, the payload files (with fixed modification times) and:
#   good.exe     the probe as setup program, three listed files, a template using every placeholder
#   longcmd.exe  the same with a template too long for the setup program's command line
#   cmdline.exe  the probe with the template %CMDLINE% and no /srcpath: the stub's arguments alone
#   unicode.exe  the probe and files named with accents, CJK and an emoji (UTF-8), from --dir and --file
#   large.exe    the probe and one 64 MiB file: extraction lasts long enough under Wine (some
#                hundreds of ms) for a progress window to be seen, or its absence to mean something
#   branded.exe  large.exe's contents with an icon (16, 32 and a 256-pixel PNG), a version resource, the
#                asInvoker execution level and the caption "Kelvo Tools Setup ü"
#   codesigned.exe, codesigned-by-hand.exe
#                good.exe code-signed by osslsigncode with a throwaway certificate: through
#                build --authenticode, and through build --authenticode-size and finish-signed
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
# Longer than CreateProcess takes: sfxpack warns, and the stub refuses it with the box.
"$sfxpack" build -q --stub "$stub" --key "$out/key.key" --setup "$probe" \
  --command "/long $(head -c 32800 /dev/zero | tr '\0' x)" -o "$out/longcmd.exe" >/dev/null
"$sfxpack" build --stub "$stub" --key "$out/key.key" --setup "$probe" --command '%CMDLINE%' --srcpath none \
  -o "$out/cmdline.exe" >/dev/null
mkdir -p "$out/unicode"
printf 'accents' >"$out/unicode/résumé ünïcode.txt"
printf 'cjk' >"$out/unicode/日本語.txt"
"$sfxpack" build --stub "$stub" --key "$out/key.key" --setup "$probe" --command '/unicode' \
  --dir "$out/unicode" --file "😀 emoji.txt=$out/payload/readme.txt" -o "$out/unicode.exe" >/dev/null
# The large payload is not kept: only the package is needed.
head -c $((64 * 1024 * 1024)) /dev/zero >"$out/large.bin"
"$sfxpack" build --stub "$stub" --key "$out/key.key" --setup "$probe" --command '/large' \
  --file large.bin="$out/large.bin" -o "$out/large.exe" >/dev/null
python3 - "$out/brand.ico" <<'EOF'
import struct, sys, zlib
def png(size):
    raw = b''.join(b'\x00' + bytes((200, 40, size % 256, 255)) * size for _ in range(size))
    chunk = lambda t, d: struct.pack('>I', len(d)) + t + d + struct.pack('>I', zlib.crc32(t + d))
    return (b'\x89PNG\r\n\x1a\n' + chunk(b'IHDR', struct.pack('>IIBBBBB', size, size, 8, 6, 0, 0, 0))
            + chunk(b'IDAT', zlib.compress(raw)) + chunk(b'IEND', b''))
images = [(size, png(size)) for size in (16, 32, 256)]
data, offset = bytearray(struct.pack('<HHH', 0, 1, len(images))), 6 + 16 * len(images)
for size, image in images:
    data += struct.pack('<BBBBHHII', size % 256, size % 256, 0, 0, 1, 32, len(image), offset)
    offset += len(image)
open(sys.argv[1], 'wb').write(data + b''.join(image for _, image in images))
EOF
"$sfxpack" build --stub "$stub" --key "$out/key.key" --setup "$probe" --command '/large' \
  --file large.bin="$out/large.bin" --icon "$out/brand.ico" --file-version 2.5.1 --product-version 2.5 \
  --version-string "ProductName=Kelvo Tools" --version-string "CompanyName=Kelvo Ltd, Zürich" \
  --version-string "LegalCopyright=© 2026 Kelvo" --execution-level asInvoker --caption "Kelvo Tools Setup ü" \
  -o "$out/branded.exe" >/dev/null
rm -f "$out/large.bin"
"$sfxpack" verify "$out/good.exe" >/dev/null

certs=$out/certs
bash "$(dirname "$0")/../make_code_signing_cert.sh" "$certs"
signer=(osslsigncode sign -certs "$certs/cs.crt" -key "$certs/cs.key")
good=(--command '/a "%SRCPATH%" /t "%TMPPATH%" /c [%CMDLINE%] /l %srcpath%' "${files[@]}")
built=$("$sfxpack" build --stub "$stub" --key "$out/key.key" --setup "$probe" "${good[@]}" \
  --authenticode "${signer[*]} -in {in} -out {out} >/dev/null" -o "$out/codesigned.exe")
size=$(sed -n 's/.*certificate table \([0-9]*\) bytes.*/\1/p' <<<"$built")
"$sfxpack" build --stub "$stub" --key "$out/key.key" --setup "$probe" "${good[@]}" \
  --authenticode-size "$size" -o "$out/unsigned.exe" >/dev/null
"${signer[@]}" -in "$out/unsigned.exe" -out "$out/by-hand.exe" >/dev/null
"$sfxpack" finish-signed "$out/by-hand.exe" -o "$out/codesigned-by-hand.exe" >/dev/null
rm -f "$out/unsigned.exe" "$out/by-hand.exe"
for package in codesigned.exe codesigned-by-hand.exe; do
  osslsigncode verify -CAfile "$certs/ca.crt" -in "$out/$package" >/dev/null
  "$sfxpack" verify "$out/$package" >/dev/null
done
echo "packages in $out"
