#!/usr/bin/env bash
# The stub from end to end (./dev demo runs this after building): makes a key, packs a small signed
# package around the probe program (tests/wine/probe.cc, which reports what it sees) with sfxpack,
# runs the 64-bit stub under Wine with its progress window on a virtual screen, and shows what
# happened: the files extracted, the command line the setup program received, the exit code. A second
# run shows a damaged copy of the same package.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
sfxpack=$root/build/host/tools/sfxpack/sfxpack
stub=$root/build/win64/sfxstub.exe
probe=$root/build/win64/tests/wine/sfx_probe.exe
launcher=$root/build/win64/tests/wine/sfx_launcher.exe
for f in "$sfxpack" "$stub" "$probe" "$launcher"; do
  [ -e "$f" ] || { echo "demo: $f is missing; run ./dev build" >&2; exit 1; }
done

if [ -z "${SFX_DEMO_INNER:-}" ]; then
  # Everything Wine does below happens on one virtual screen, from the prefix's first start on.
  exec env SFX_DEMO_INNER=1 xvfb-run -a -s "-screen 0 1024x768x24" bash "$0" "$@"
fi

work=$(mktemp -d "${TMPDIR:-/tmp}/sfxstub-demo.XXXXXX")
export WINEPREFIX=$work/wine WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
cleanup() {
  /usr/lib/wine/wineserver -k >/dev/null 2>&1 || true
  rm -rf "$work"
}
trap cleanup EXIT
winpath() { printf 'Z:%s' "${1//\//\\}"; }
say() { printf '\n\033[1m%s\033[0m\n' "$*"; }
now_ms() { echo $(( $(date +%s%N) / 1000000 )); }
seconds_since() { local ms=$(( $(now_ms) - $1 )); printf '%d.%d s' $((ms / 1000)) $((ms % 1000 / 100)); }

say "1. A key pair and a small package"
mkdir -p "$work/payload" "$work/download"
# A text, which the build deflates, and random bytes, which it stores: list shows the method of each.
{ printf 'Thank you for trying sfxstub.\r\n\r\n'; sed 's/$/\r/' "$root/LICENSE"; } >"$work/payload/readme.txt"
head -c 200000 /dev/urandom >"$work/payload/data.bin"
"$sfxpack" keygen --out "$work/demo"
"$sfxpack" build --stub "$stub" --key "$work/demo.key" --setup "$probe" \
  --command '/install /log="%TMPPATH%\setup.log" %CMDLINE%' \
  --file readme.txt="$work/payload/readme.txt" --file data.bin="$work/payload/data.bin" \
  -o "$work/download/demo-setup.exe"
"$sfxpack" verify --pub "$work/demo.pub" "$work/download/demo-setup.exe"   # whose key, not just intact
"$sfxpack" list "$work/download/demo-setup.exe"
printf 'stub %s bytes, package %s bytes\n' "$(stat -c %s "$stub")" \
  "$(stat -c %s "$work/download/demo-setup.exe")"

say "2. A fresh Wine prefix"
start=$(now_ms)
/usr/lib/wine/wine64 wineboot --init >/dev/null 2>&1 || true
# Wine's X11 driver waits up to two seconds for a window manager to withdraw each hidden window, and
# Xvfb runs none: the packages' windows are left unmanaged.
for name in demo-setup.exe damaged.exe; do
  /usr/lib/wine/wine64 reg add "HKCU\\Software\\Wine\\AppDefaults\\$name\\X11 Driver" \
    /v Managed /d N /f >/dev/null 2>&1 || true
done
echo "ready in $(seconds_since "$start")"

# The probe asks to be run again once (0x20000010), then succeeds.
control=$work/probe.ctl
printf 'exit=0x20000010,0\n' >"$control"

say "3. demo-setup.exe /lang=en \"C:\\My Target\"   (progress window shown)"
start=$(now_ms)
/usr/lib/wine/wine64 "$launcher" --cd "$work/download" --set "SFX_PROBE_CONTROL=$(winpath "$control")" \
  --args '/lang=en "C:\My Target"' "$work/download/demo-setup.exe" | tr -d '\r'
echo "the run took $(seconds_since "$start") (Wine's process start-up included)"

report=$control.report
if [ ! -s "$report" ]; then
  echo "demo: the setup program never ran" >&2
  exit 1
fi
runs=$(grep -c '^run=' "$report")
echo
echo "The setup program ran $runs times. What it saw on its first run:"
first_run=$(awk '/^run=2$/ { exit } { print }' "$report")
while IFS= read -r line; do
  key=${line%%=*} value=${line#*=}
  case $key in
    command_line) echo "  command line:      $value" ;;
    current_directory) echo "  current directory: $value" ;;
    module) echo "  its own path:      $value" ;;
    progress_windows) echo "  progress window:   ${value:-gone before it started}" ;;
    everyone_ace) echo "  Everyone's entry on its folder (flags:rights): $value" ;;
    file)
      IFS=$'\t' read -r name bytes mtime <<<"$value"
      printf '  file beside it:    %-12s %8s bytes  %s\n' "$name" "$bytes" "$(date -u -d "@$mtime" '+%Y-%m-%d %H:%M:%S UTC')" ;;
  esac
done <<<"$first_run"
echo "  exit codes it gave: $(grep '^exit=' "$report" | cut -d= -f2 | paste -sd' ')"
left=$(find "$WINEPREFIX/drive_c/users" -maxdepth 3 -name '_kv_sfx.tm~*' | wc -l)
echo "  private folders left under TEMP afterwards: $left"

say "4. A damaged copy, with /silent: the one error box, whatever the switches"
cp "$work/download/demo-setup.exe" "$work/download/damaged.exe"
size=$(stat -c %s "$work/download/damaged.exe")
printf '\x55' | dd of="$work/download/damaged.exe" bs=1 seek=$((size - 100)) conv=notrunc status=none
/usr/lib/wine/wine64 "$launcher" --args '/silent' "$work/download/damaged.exe" | tr -d '\r'

say "5. The same package, code-signed (Authenticode) by osslsigncode with a throwaway certificate"
bash "$root/tests/make_code_signing_cert.sh" "$work/certs"
start=$(now_ms)
"$sfxpack" build --stub "$stub" --key "$work/demo.key" --setup "$probe" \
  --command '/install /log="%TMPPATH%\setup.log" %CMDLINE%' \
  --file readme.txt="$work/payload/readme.txt" --file data.bin="$work/payload/data.bin" \
  --authenticode "osslsigncode sign -certs '$work/certs/cs.crt' -key '$work/certs/cs.key' -n 'sfxstub demo' -in {in} -out {out} >/dev/null" \
  -o "$work/download/signed-setup.exe"
echo "the code-signed build took $(seconds_since "$start")"
osslsigncode verify -CAfile "$work/certs/ca.crt" -in "$work/download/signed-setup.exe" |
  grep -E '^(Signature verification|Message digest algorithm  |Current message digest|Calculated message digest)'
"$sfxpack" verify --pub "$work/demo.pub" "$work/download/signed-setup.exe"
/usr/lib/wine/wine64 reg add "HKCU\\Software\\Wine\\AppDefaults\\signed-setup.exe\\X11 Driver" \
  /v Managed /d N /f >/dev/null 2>&1 || true
printf 'exit=0\n' >"$control" && rm -f "$report"
/usr/lib/wine/wine64 "$launcher" --cd "$work/download" --set "SFX_PROBE_CONTROL=$(winpath "$control")" \
  --args '/silent' "$work/download/signed-setup.exe" | tr -d '\r'
if [ -s "$report" ]; then
  echo "the setup program ran from the code-signed package with: $(sed -n 's/^command_line=//p' "$report" | head -n 1)"
  echo "  files beside it: $(sed -n 's/^file=\([^\t]*\).*/\1/p' "$report" | paste -sd' ')"
else
  echo "demo: the setup program never ran from the code-signed package" >&2
  exit 1
fi

say "6. A branded package: its own icon, version resource, execution level and window title"
python3 - "$work/brand.ico" <<'EOF'
import struct, sys, zlib
def png(size):
    raw = b''.join(b'\x00' + bytes((20, 110, 200, 255)) * size for _ in range(size))
    chunk = lambda t, d: struct.pack('>I', len(d)) + t + d + struct.pack('>I', zlib.crc32(t + d))
    return (b'\x89PNG\r\n\x1a\n' + chunk(b'IHDR', struct.pack('>IIBBBBB', size, size, 8, 6, 0, 0, 0))
            + chunk(b'IDAT', zlib.compress(raw)) + chunk(b'IEND', b''))
images = [(size, png(size)) for size in (16, 32, 48, 256)]
data, offset = bytearray(struct.pack('<HHH', 0, 1, len(images))), 6 + 16 * len(images)
for size, image in images:
    data += struct.pack('<BBBBHHII', size % 256, size % 256, 0, 0, 1, 32, len(image), offset)
    offset += len(image)
open(sys.argv[1], 'wb').write(data + b''.join(image for _, image in images))
EOF
"$sfxpack" build --stub "$stub" --key "$work/demo.key" --setup "$probe" \
  --file readme.txt="$work/payload/readme.txt" --file data.bin="$work/payload/data.bin" \
  --icon "$work/brand.ico" --file-version 1.4.2 --version-string "ProductName=Demo Tools" \
  --version-string "CompanyName=Demo Ltd" --version-string "LegalCopyright=© 2026 Demo Ltd" \
  --execution-level asInvoker --caption "Demo Tools Setup" -o "$work/download/branded-setup.exe"
"$sfxpack" list --pub "$work/demo.pub" "$work/download/branded-setup.exe" | sed -n '/^execution:/,$p'
/usr/lib/wine/wine64 reg add "HKCU\\Software\\Wine\\AppDefaults\\branded-setup.exe\\X11 Driver" \
  /v Managed /d N /f >/dev/null 2>&1 || true
printf 'exit=0\n' >"$control" && rm -f "$report"
/usr/lib/wine/wine64 "$launcher" --cd "$work/download" --set "SFX_PROBE_CONTROL=$(winpath "$control")" \
  "$work/download/branded-setup.exe" | tr -d '\r'
echo "What Windows itself reads of it (GetFileVersionInfoW, VerQueryValueW, LoadImageW, PrivateExtractIconsW):"
/usr/lib/wine/wine64 "$probe" --resources "$(winpath "$work/download/branded-setup.exe")" "$(winpath "$work/resources.txt")"
sed 's/^/  /' "$work/resources.txt"
