#!/usr/bin/env bash
# The Windows sfxpack.exe under Wine takes and gives names as UTF-8: its command line, the files
# --dir finds, the files it opens and the files extract writes, for names with accents, CJK and an
# emoji in folders named so too. Without its UTF-8 manifest these pass through the ANSI code page.
#   sfxpack_unicode_test.sh WINE_RUN SFXPACK_EXE HOST_SFXPACK STUB PROBE
set -euo pipefail
wine_run=$1 win=$2 host=$3 stub=$4 probe=$5
work=$(mktemp -d "${TMPDIR:-/tmp}/sfxpack-unicode.XXXXXX")
trap 'rm -rf "$work"' EXIT
cd "$work"

# Where each name comes from: a file of the --dir folder, or NAME=PATH of --file.
dir='dïr 目录 🎁' source='src ü 路径 😀/ïn 文件 🎈.txt' pkg='pkg ü 包 📦.exe' out='out é 出 🎯'
names=('résumé ünïcode.txt' '日本語.txt' 'party 🎉.txt' 'ñame 名前 😀.txt')
from=("$dir/${names[0]}" "$dir/${names[1]}" "$dir/${names[2]}" "$source")

mkdir -p "$dir" "$(dirname "$source")"
for i in "${!names[@]}"; do printf 'file %s: %s' "$i" "${names[i]}" >"${from[i]}"; done
"$host" keygen --out key >/dev/null

wine() { "$wine_run" "$win" "$@"; }
fail() { echo "FAIL: $*" >&2; status=1; }
status=0
# Relative paths: Wine's working folder is this one, so they carry the non-ASCII characters as typed.
wine build --stub "$stub" --key key.key --setup "$probe" --dir "$dir" --file "${names[3]}=$source" \
  -o "$pkg" >/dev/null || { echo "FAIL: build exits $?" >&2; exit 1; }
win_list=$(wine list "$pkg") || fail "list by sfxpack.exe exits $?"
host_list=$("$host" list "$pkg") || fail "list by the host's sfxpack exits $?"
wine extract "$pkg" "$out" >/dev/null || fail "extract exits $?"
for i in "${!names[@]}"; do
  grep -qF -- "${names[i]}" <<<"$win_list" || fail "sfxpack.exe list does not show '${names[i]}'"
  grep -qF -- "${names[i]}" <<<"$host_list" || fail "the host's list does not show '${names[i]}'"
  cmp -s -- "${from[i]}" "$out/${names[i]}" || fail "extract did not write '${names[i]}' as packed"
done
[ $status -eq 0 ] || { printf 'sfxpack.exe list:\n%s\nextracted: %s\n' "$win_list" "$(ls "$out" 2>&1)" >&2; }
exit $status
