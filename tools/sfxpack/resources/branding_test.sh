#!/usr/bin/env bash
# Branded packages checked by readers nobody here wrote:
#   branding_test.sh SFXPACK STUB32 STUB64 CERT_SCRIPT
# For both stubs: llvm-readobj lists the resource tree, wrestool and icotool give the icon's images
# back byte for byte, Debian's pefile reads the version resource and the manifest and finds no
# structural warning, osslsigncode signs and verifies a branded package. Then reproducibility,
# stamping and branding in either order, and each bad input refused with its words and nothing
# written. Exits 77 (skipped) without a stub or one of the tools.
set -uo pipefail
absolute() { case $1 in /*) echo "$1" ;; *) echo "$PWD/$1" ;; esac; }
sfxpack=$(absolute "$1") stub32=$(absolute "$2") stub64=$(absolute "$3") certs_script=$(absolute "$4")
for tool in llvm-readobj wrestool icotool osslsigncode; do
  command -v $tool >/dev/null || { echo "SKIP: no $tool (scripts/deps.sh installs it)"; exit 77; }
done
/usr/bin/python3 -c 'import pefile' 2>/dev/null || { echo "SKIP: no python3-pefile"; exit 77; }
for stub in "$stub32" "$stub64"; do
  [ -f "$stub" ] || { echo "SKIP: no stub at $stub (build the win32 and win64 trees first)"; exit 77; }
done
work=$(mktemp -d "${TMPDIR:-/tmp}/sfx-branding.XXXXXX")
trap 'rm -rf "$work"' EXIT
cd "$work"

failures=0
fail() { echo "FAIL: $*"; sed 's/^/    /' log 2>/dev/null; failures=$((failures + 1)); }
ok() { local what=$1; shift; "$@" >log 2>&1 || fail "$what"; }
says() { grep -qF -- "$2" log || fail "$1: the output does not say '$2'"; }
# refused WHAT EXIT WORDS COMMAND...: exits EXIT, says WORDS, writes no out.exe.
refused() {
  local what=$1 code=$2 words=$3; shift 3
  rm -f out.exe
  "$@" -o out.exe >log 2>&1
  local got=$?
  [ $got -eq "$code" ] || fail "$what: exit $got, not $code"
  says "$what" "$words"
  [ "$(grep -c . log)" -eq 1 ] || fail "$what: not a one-line error"
  [ ! -e out.exe ] || fail "$what: out.exe written"
}

# Images drawn here: 16, 32 and 48 pixels as bitmaps, 256 as a PNG, as icotool packs them.
cat >draw.py <<'EOF'
import struct, sys, zlib
def png(size, path):
    raw = b''.join(b'\x00' + bytes((30 + size % 200, 90, 160, 255)) * size for _ in range(size))
    chunk = lambda t, d: struct.pack('>I', len(d)) + t + d + struct.pack('>I', zlib.crc32(t + d))
    open(path, 'wb').write(b'\x89PNG\r\n\x1a\n' + chunk(b'IHDR', struct.pack('>IIBBBBB', size, size, 8, 6, 0, 0, 0))
                           + chunk(b'IDAT', zlib.compress(raw)) + chunk(b'IEND', b''))
for size in (16, 32, 48, 256):
    png(size, 'img%d.png' % size)
EOF
python3 draw.py
icotool -c -o brand.ico img16.png img32.png img48.png -r img256.png
mkdir -p images/in && icotool -x -o images/in brand.ico
"$sfxpack" keygen --out key >/dev/null
bash "$certs_script" certs
printf 'setup' >payload.txt

# A setup program that runs as invoked: the 32-bit stub, rebranded.
"$sfxpack" stamp-key --stub "$stub32" --pub key.pub --execution-level asInvoker -o invoker.exe >/dev/null
brand=(--icon brand.ico --file-version 2.5.1 --product-version 2.5 --version-string "ProductName=Kelvo Tools"
       --version-string "CompanyName=Kelvo Ltd, Zürich" --version-string "LegalCopyright=© 2026 Kelvo"
       --execution-level asInvoker --caption "Kelvo Tools Setup")

cat >inspect.py <<'EOF'
import json, sys, pefile
pe = pefile.PE(sys.argv[1])
out = {'warnings': pe.get_warnings(), 'checksum': pe.OPTIONAL_HEADER.CheckSum}
fixed = pe.VS_FIXEDFILEINFO[0]
out['file'] = '%d.%d.%d.%d' % (fixed.FileVersionMS >> 16, fixed.FileVersionMS & 0xFFFF, fixed.FileVersionLS >> 16, fixed.FileVersionLS & 0xFFFF)
out['product'] = '%d.%d.%d.%d' % (fixed.ProductVersionMS >> 16, fixed.ProductVersionMS & 0xFFFF, fixed.ProductVersionLS >> 16, fixed.ProductVersionLS & 0xFFFF)
for info in pe.FileInfo[0]:
    if info.Key == b'StringFileInfo':
        table = info.StringTable[0]
        out['table'] = table.LangID.decode()
        out['strings'] = {k.decode(): v.decode() for k, v in table.entries.items()}
    if info.Key == b'VarFileInfo':
        out['translation'] = info.Var[0].entry[b'Translation']
last = pe.sections[-1]
align = pe.OPTIONAL_HEADER.SectionAlignment
out['imageSizeRight'] = pe.OPTIONAL_HEADER.SizeOfImage == (last.VirtualAddress + last.Misc_VirtualSize + align - 1) // align * align
for entry in pe.DIRECTORY_ENTRY_RESOURCE.entries:
    if entry.id == 24:
        data = entry.directory.entries[0].directory.entries[0].data.struct
        out['manifest'] = pe.get_data(data.OffsetToData, data.Size).decode()
print(json.dumps(out, ensure_ascii=False))
EOF

for bits in 32 64; do
  stub=$stub32
  [ $bits = 64 ] && stub=$stub64
  what="$bits-bit"
  ok "$what: build" "$sfxpack" build --stub "$stub" --key key.key --setup invoker.exe --file payload.txt=payload.txt \
    "${brand[@]}" -o "branded$bits.exe"
  ok "$what: verify" "$sfxpack" verify --pub key.pub "branded$bits.exe"
  # llvm-readobj: the tree, in the order the format requires.
  ok "$what: llvm-readobj" llvm-readobj --coff-resources "branded$bits.exe"
  types=$(grep -o 'Type: [A-Z_]*' log | tr '\n' ' ')
  [ "$types" = "Type: AVI Type: ICON Type: STRINGTABLE Type: GROUP_ICON Type: VERSIONINFO Type: MANIFEST " ] ||
    fail "$what: llvm-readobj lists the types as '$types'"
  # wrestool and icotool: every image back byte for byte.
  rm -rf "images/$bits" && mkdir -p "images/$bits"
  ok "$what: wrestool" wrestool -x -t 14 -n 1 "branded$bits.exe" -o "images/$bits/group.ico"
  ok "$what: icotool" icotool -x -o "images/$bits" "images/$bits/group.ico"
  for image in images/in/*.png; do
    cmp -s "$image" "images/$bits/group_${image##*/brand_}" || fail "$what: ${image##*/} does not come back"
  done
  # pefile: the version resource and the manifest, and no warning about the image.
  /usr/bin/python3 inspect.py "branded$bits.exe" >inspect.json 2>log || fail "$what: pefile"
  python3 - "$what" >log 2>&1 <<'EOF' || fail "$what: pefile reads another resource"
import json, sys
got = json.load(open('inspect.json'))
want = {'warnings': [], 'checksum': 0, 'file': '2.5.1.0', 'product': '2.5.0.0', 'table': '040904b0',
        'translation': '0x0409 0x04b0', 'imageSizeRight': True,
        'strings': {'ProductName': 'Kelvo Tools', 'CompanyName': 'Kelvo Ltd, Zürich', 'LegalCopyright': '© 2026 Kelvo',
                    'FileDescription': 'Kelvo Tools', 'FileVersion': '2.5.1.0', 'ProductVersion': '2.5.0.0',
                    'OriginalFilename': 'branded%s.exe' % sys.argv[1][:2]}}
for key, value in want.items():
    if got.get(key) != value:
        print(key, 'is', got.get(key), 'not', value); sys.exit(1)
manifest = got['manifest']
for text in ('level="asInvoker" uiAccess="false"', '>UTF-8</activeCodePage>', 'Microsoft.Windows.Common-Controls'):
    if text not in manifest:
        print('the manifest lacks', text); sys.exit(1)
EOF
  # list shows it; osslsigncode signs and verifies a branded package.
  ok "$what: list" "$sfxpack" list --pub key.pub "branded$bits.exe"
  says "$what: list" "execution:    asInvoker"
  says "$what: list" "icon:         16x16, 32x32, 48x48, 256x256"
  says "$what: list" "caption:      Kelvo Tools Setup"
  says "$what: list" "version:      file 2.5.1.0, product 2.5.0.0"
  ok "$what: build --authenticode" "$sfxpack" build --stub "$stub" --key key.key --setup invoker.exe "${brand[@]}" \
    --authenticode "osslsigncode sign -certs $PWD/certs/cs.crt -key $PWD/certs/cs.key -in {in} -out {out} >/dev/null" \
    -o "signed$bits.exe"
  ok "$what: osslsigncode verify" osslsigncode verify -CAfile certs/ca.crt -in "signed$bits.exe"
  ok "$what: verify of the code-signed package" "$sfxpack" verify --pub key.pub "signed$bits.exe"
done

# The same inputs give the same bytes; a stub branded and stamped by stamp-key, and a stamped stub
# branded by build, give the same package.
names=(--version-string OriginalFilename=setup.exe)
"$sfxpack" build --stub "$stub32" --key key.key --setup invoker.exe "${brand[@]}" "${names[@]}" -o again1.exe >/dev/null
sleep 1
"$sfxpack" build --stub "$stub32" --key key.key --setup invoker.exe "${brand[@]}" "${names[@]}" -o again2.exe >/dev/null
cmp -s again1.exe again2.exe || fail "the same inputs give different packages"
"$sfxpack" stamp-key --stub "$stub32" --pub key.pub "${brand[@]}" "${names[@]}" -o branded-stub.exe >/dev/null
"$sfxpack" stamp-key --stub "$stub32" --pub key.pub -o stamped-stub.exe >/dev/null
"$sfxpack" build --stub branded-stub.exe --key key.key --setup invoker.exe -o order1.exe >/dev/null
"$sfxpack" build --stub stamped-stub.exe --key key.key --setup invoker.exe "${brand[@]}" "${names[@]}" -o order2.exe >/dev/null
cmp -s order1.exe order2.exe || fail "a branded stub stamped and a stamped stub branded give different packages"
cmp -s order1.exe again1.exe || fail "a stub branded before the build gives another package than the build's branding"

# Bad input: one line each, exit 2 for the command line and 1 for a file, nothing written.
cp img256.png renamed-png.ico
printf 'BM\066\0\0\0\0\0\0\0\066\0\0\0' >renamed-bmp.ico
python3 -c "import sys; d = bytearray(open('brand.ico','rb').read()); d[2] = 2; open('cursor.cur','wb').write(d)"
printf '\0\0\1\0\0\0' >empty.ico
python3 -c "import sys; d = bytearray(open('brand.ico','rb').read()); d[6+12:6+16] = (99999).to_bytes(4,'little'); open('offset.ico','wb').write(d)"
python3 -c "
d = bytearray(open('brand.ico','rb').read()); at = len(d) - 20
d[at:at + 16] = b'JUXsetupDSAKey01'; open('marker.ico', 'wb').write(d)"
head -c $((4 * 1024 * 1024 + 1)) /dev/zero >huge.ico
build=("$sfxpack" build --stub "$stub32" --key key.key --setup invoker.exe)
refused "a PNG renamed" 1 "--icon renamed-png.ico: not an icon file" "${build[@]}" --icon renamed-png.ico
refused "a BMP renamed" 1 "--icon renamed-bmp.ico: not an icon file" "${build[@]}" --icon renamed-bmp.ico
refused "a cursor" 1 "a cursor, not an icon" "${build[@]}" --icon cursor.cur
refused "no image" 1 "an icon file with no image" "${build[@]}" --icon empty.ico
refused "an offset past the end" 1 "image 1 runs past the end of the file" "${build[@]}" --icon offset.ico
refused "an icon file over 4 MiB" 1 "an icon file over 4 MiB" "${build[@]}" --icon huge.ico
refused "the key block's marker" 1 "holds the key block's marker" "${build[@]}" --icon marker.ico
refused "a part over 65535" 2 "--file-version takes 1 to 4 decimal parts A.B.C.D" "${build[@]}" --file-version 1.70000
refused "SemVer" 2 "--product-version takes 1 to 4 decimal parts" "${build[@]}" --file-version 1 --product-version 1.2.3-rc.1
refused "a string without a version" 2 "needs --file-version" "${build[@]}" --version-string ProductName=x
refused "a string twice" 2 "--version-string ProductName given twice" "${build[@]}" --file-version 1 \
  --version-string ProductName=x --version-string ProductName=y
refused "a resource over 64 KiB" 2 "64 KiB" "${build[@]}" --file-version 1 --version-string "Comments=$(head -c 40000 /dev/zero | tr '\0' x)"
refused "uiAccess" 2 "uiAccess is not offered" "${build[@]}" --execution-level uiAccess
refused "an unknown level" 2 "--execution-level takes requireAdministrator, highestAvailable or asInvoker" \
  "${build[@]}" --execution-level admin
refused "an empty caption" 2 "--caption takes 1 to 100 characters" "${build[@]}" --caption ""
refused "an administrator's setup program unelevated" 1 "use --execution-level requireAdministrator" \
  "$sfxpack" build --stub "$stub32" --key key.key --setup "$stub32" --execution-level asInvoker
cat "$stub32" payload.txt >trailing.exe
refused "a stub with data after its last section" 1 "trailing.exe: cannot rewrite the resources of this image: data follows" \
  "$sfxpack" build --stub trailing.exe --key key.key --setup invoker.exe --caption x

# A 32-bit setup program without a manifest (its type renamed away) under asInvoker: a warning.
/usr/bin/python3 - "$stub32" <<'EOF'
import sys, pefile
pe = pefile.PE(sys.argv[1])
for entry in pe.DIRECTORY_ENTRY_RESOURCE.entries:
    if entry.id == 24:
        entry.struct.Name = 25
pe.write('no-manifest.exe')
EOF
ok "no manifest" "$sfxpack" build --stub "$stub32" --key key.key --setup no-manifest.exe --execution-level asInvoker \
  -o warned.exe
says "no manifest" "warning: --setup no-manifest.exe: the setup program is a 32-bit program without a manifest"

[ $failures -eq 0 ] && echo "branding: all checks passed"
exit $((failures != 0))
