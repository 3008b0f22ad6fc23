#!/usr/bin/env bash
# Code-signed packages on the host, with osslsigncode and a throwaway certificate made by openssl:
#   authenticode_test.sh SFXPACK STUB32 STUB64 CERT_SCRIPT
# Both stubs round-trip through build --authenticode, osslsigncode verify and sfxpack verify; then the
# two-step flow, damage to each signature's range, signing commands that lie or whose table length
# changes, and a stub that is code-signed itself. Exits 77 (skipped) without osslsigncode or a stub.
set -uo pipefail
absolute() { case $1 in /*) echo "$1" ;; *) echo "$PWD/$1" ;; esac; }
sfxpack=$(absolute "$1") stub32=$(absolute "$2") stub64=$(absolute "$3") certs_script=$(absolute "$4")
command -v osslsigncode >/dev/null || { echo "SKIP: no osslsigncode (scripts/deps.sh installs it)"; exit 77; }
for stub in "$stub32" "$stub64"; do
  [ -f "$stub" ] || { echo "SKIP: no stub at $stub (build the win32 and win64 trees first)"; exit 77; }
done
work=$(mktemp -d "${TMPDIR:-/tmp}/sfx-authenticode.XXXXXX")
trap 'rm -rf "$work"' EXIT
cd "$work"

failures=0
fail() { echo "FAIL: $*"; sed 's/^/    /' log 2>/dev/null; failures=$((failures + 1)); }
ok() { local what=$1; shift; "$@" >log 2>&1 || fail "$what"; }
refused() { local what=$1; shift; ! "$@" >log 2>&1 || fail "$what: succeeded"; }
says() { grep -qF -- "$2" log || fail "$1: the output does not say '$2'"; }
osslverify() { osslsigncode verify -CAfile certs/ca.crt -in "$1"; }
no_leftovers() { [ -z "$(ls -a | grep -F .tmp)" ] || fail "$1: temporary files left: $(ls -a | grep -F .tmp | tr '\n' ' ')"; }

# edit.py flip FILE OFFSET | insert FILE HEX: flips a byte, or puts bytes before the certificate table
# and moves the header's entry after it.
cat >edit.py <<'EOF'
import struct, sys
op, path = sys.argv[1], sys.argv[2]
data = bytearray(open(path, 'rb').read())
if op == 'flip':
    data[int(sys.argv[3])] ^= 0x55
else:
    pe = struct.unpack_from('<I', data, 0x3C)[0]
    entry = pe + 24 + (144 if struct.unpack_from('<H', data, pe + 24)[0] == 0x20B else 128)
    table, size = struct.unpack_from('<II', data, entry)
    extra = bytes.fromhex(sys.argv[3])
    data[table:table] = extra
    struct.pack_into('<I', data, entry, table + len(extra))
open(path, 'wb').write(data)
EOF
# Field 1 of the table line: offset; field 2: size.
table_of() { "$sfxpack" list --json "$1" | python3 -c 'import json,sys; t=json.load(sys.stdin)["certificateTable"]; print(t["offset"], t["size"])'; }

bash "$certs_script" certs || { echo "cannot make the certificates"; exit 1; }
# The signing command runs in a private folder of its own: files of the test are named by absolute path.
sign="osslsigncode sign -certs $work/certs/cs.crt -key $work/certs/cs.key -in {in} -out {out}"
"$sfxpack" keygen --out key >/dev/null
# The headers build checks a setup program for ("MZ", "PE" where it points, amd64) in noise, which
# zlib stores as it is: the package's size, and so the padding before the certificate table, is the
# same in every run.
{ printf 'MZ'; head -c 58 /dev/urandom; printf '\x40\0\0\0PE\0\0\x64\x86'; head -c 150000 /dev/urandom; } >setup.bin
printf 'alpha\r\n' >a.txt
build() { "$sfxpack" build --stub "$1" --key key.key --setup setup.bin --file a.txt=a.txt --command /q "${@:2}"; }

echo "== both stubs: build --authenticode, then osslsigncode verify and sfxpack verify"
for bits in 32 64; do
  [ $bits = 32 ] && stub=$stub32 || stub=$stub64
  ok "$bits-bit build" build "$stub" --authenticode "$sign" -o pkg$bits.exe
  says "$bits-bit build" "code-signed in 2 round(s)"
  no_leftovers "$bits-bit build"
  ok "$bits-bit osslsigncode verify" osslverify pkg$bits.exe
  ok "$bits-bit sfxpack verify" "$sfxpack" verify pkg$bits.exe
  says "$bits-bit sfxpack verify" "a certificate table follows the record"
  ok "$bits-bit extract" "$sfxpack" extract pkg$bits.exe out$bits
  cmp -s setup.bin out$bits/setup.ovr && cmp -s a.txt out$bits/a.txt || fail "$bits-bit extract: other bytes"
done
read -r table size < <(table_of pkg64.exe)
"$sfxpack" verify --json pkg64.exe 2>/dev/null | python3 -c '
import json, sys
v = json.load(sys.stdin)
t = v["certificateTable"]
assert v["result"] == "valid" and v["code"] == 0 and len(v["fingerprint"]) == 64, v
assert (t["offset"], t["size"]) == (int(sys.argv[1]), int(sys.argv[2])), v' "$table" "$size" ||
  fail "verify --json does not report the certificate table list reports"

echo "== bytes after the certificate table: outside both signatures, so the file is refused"
cp pkg64.exe appended.exe && printf APPENDED >>appended.exe
refused "bytes after the table: sfxpack verify" "$sfxpack" verify appended.exe
refused "bytes after the table: sfxpack extract" "$sfxpack" extract appended.exe appended-out
refused "bytes after the table: osslsigncode verify" osslverify appended.exe

echo "== the signing command runs in a private folder beside -o, on plain names, and nothing of it stays"
where='test {in} = in.exe && test {out} = out.exe && test "$(stat -c %a .)" = 700 && case "$PWD" in'
ok "the command's folder" build "$stub64" -o private.exe \
  --authenticode "$where \"$work\"/private.exe.sign-*.tmp~) ;; *) exit 9 ;; esac && $sign"
no_leftovers "the command's folder"
quoted="osslsigncode sign -certs $work/certs/cs.crt -key $work/certs/cs.key -in '{in}' -out '{out}'"
ok "placeholders quoted in the command, an output name with shell syntax" build "$stub64" \
  --authenticode "$quoted" -o "r;touch pwned;.exe"
[ ! -e pwned ] || fail "an output name with shell syntax: the shell ran part of it"
ok "an output name with shell syntax: verify" "$sfxpack" verify "r;touch pwned;.exe"

echo "== damage: each signature covers its own range"
cp pkg64.exe signed-range.exe && python3 edit.py flip signed-range.exe 1000
refused "a byte in the signed range: osslsigncode verify" osslverify signed-range.exe
refused "a byte in the signed range: sfxpack verify" "$sfxpack" verify signed-range.exe
cp pkg64.exe in-table.exe && python3 edit.py flip in-table.exe $((table + size - 20))
ok "a byte in the certificate table: sfxpack verify" "$sfxpack" verify in-table.exe
refused "a byte in the certificate table: osslsigncode verify" osslverify in-table.exe

echo "== signing commands that fail or lie leave no package"
lies=(
  "false {in} {out}|the signing command exited with status 1"
  "true {in} {out}|wrote nothing to {out}"
  "cp {in} {out}|has no certificate table"
  "$sign && python3 $work/edit.py flip {out} 1000|changed byte 1000 of its input"
  "$sign && python3 $work/edit.py insert {out} 0000000000000000|not within 7 bytes after the end of its input"
  "$sign && python3 $work/edit.py insert {out} 01|a nonzero byte at"
  "$sign && printf x >>{out}|does not end its output"
)
for lie in "${lies[@]}"; do
  command=${lie%|*} said=${lie##*|}
  refused "$command" build "$stub64" --authenticode "$command" -o lying.exe
  says "$command" "code signing, round 1: "
  says "$command" "$said"
  [ ! -e lying.exe ] || fail "$command: wrote lying.exe"
  no_leftovers "$command"
done
refused "a command without {out}" build "$stub64" --authenticode "osslsigncode sign -in {in}" -o lying.exe

echo "== a table whose length changes between rounds"
# Each call signs with a description of the length the call's line in lengths.txt gives.
cat >varying.sh <<EOF
n=\$(( \$(cat $work/calls 2>/dev/null || echo 0) + 1 )); echo \$n >$work/calls
length=\$(sed -n "\${n}p" $work/lengths.txt)
osslsigncode sign -certs $work/certs/cs.crt -key $work/certs/cs.key -n "\$(printf "%\${length}s" | tr ' ' d)" -in "\$1" -out "\$2"
EOF
printf '1\n40\n40\n40\n' >lengths.txt && rm -f calls
ok "a length that settles" build "$stub64" --authenticode "sh $work/varying.sh {in} {out}" -o settles.exe
says "a length that settles" "code-signed in 3 round(s)"
ok "a length that settles: osslsigncode verify" osslverify settles.exe
ok "a length that settles: sfxpack verify" "$sfxpack" verify settles.exe
printf '1\n40\n80\n120\n160\n' >lengths.txt && rm -f calls
refused "a length that never settles" build "$stub64" --authenticode "sh $work/varying.sh {in} {out}" -o never.exe
says "a length that never settles" "changed in every one of 4 rounds ("
[ "$(cat calls)" = 4 ] || fail "a length that never settles: $(cat calls) rounds"
[ ! -e never.exe ] || fail "a length that never settles: wrote never.exe"
ok "a size given first" build "$stub64" --authenticode "$sign" --authenticode-size "$size" -o guessed.exe
says "a size given first" "code-signed in 1 round(s)"

echo "== the two-step flow"
ok "build --authenticode-size" build "$stub64" --authenticode-size "$size" -o unsigned.exe
ok "code signing by hand" osslsigncode sign -certs certs/cs.crt -key certs/cs.key -in unsigned.exe -out hand.exe
ok "finish-signed" "$sfxpack" finish-signed hand.exe -o finished.exe
ok "two-step: osslsigncode verify" osslverify finished.exe
ok "two-step: sfxpack verify" "$sfxpack" verify finished.exe
ok "two-step, wrong size: build" build "$stub64" --authenticode-size $((size + 8)) -o unsigned2.exe
ok "two-step, wrong size: sign" osslsigncode sign -certs certs/cs.crt -key certs/cs.key -in unsigned2.exe -out hand2.exe
refused "two-step, wrong size: finish-signed" "$sfxpack" finish-signed hand2.exe -o finished2.exe
says "two-step, wrong size: finish-signed" "--authenticode-size $size"
[ ! -e finished2.exe ] || fail "two-step, wrong size: wrote finished2.exe"
no_leftovers "finish-signed"

echo "== a stub that is code-signed itself"
osslsigncode sign -certs certs/cs.crt -key certs/cs.key -in "$stub64" -out signed-stub.exe >/dev/null
ok "build on a code-signed stub" build signed-stub.exe --authenticode "$sign" -o on-signed.exe
says "build on a code-signed stub" "warning: signed-stub.exe is code-signed"
ok "build on a code-signed stub: osslsigncode verify" osslverify on-signed.exe
ok "build on a code-signed stub: sfxpack verify" "$sfxpack" verify on-signed.exe
ok "stamp-key on a code-signed stub" "$sfxpack" stamp-key --stub signed-stub.exe --pub key.pub -o stamped.exe
says "stamp-key on a code-signed stub" "certificate table"
cp signed-stub.exe trailing-stub.exe && printf x >>trailing-stub.exe
refused "a stub whose table does not end it" build trailing-stub.exe -o never.exe
says "a stub whose table does not end it" "does not end the file"

echo "== paths that need quoting"
mkdir -p "it's a folder"
ok "an output path with a blank and a quote" build "$stub64" --authenticode "$sign" -o "it's a folder/pkg.exe"
ok "an output path with a blank and a quote: verify" "$sfxpack" verify "it's a folder/pkg.exe"

echo "$failures failure(s)"
[ $failures -eq 0 ]
