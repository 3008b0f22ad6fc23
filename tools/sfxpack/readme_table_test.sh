#!/usr/bin/env bash
# Holds the tool to the README's table of command lines: each row's command runs with the built
# sfxpack in a folder of fixtures, and must end with the row's exit code and print the row's text.
# Every line the tool writes to stderr begins "sfxpack: ".
# Usage: readme_table_test.sh SFXPACK README
set -euo pipefail
tool=$(cd "$(dirname "$1")" && pwd)/$(basename "$1")
readme=$2
work=$(mktemp -d "${TMPDIR:-/tmp}/sfxpack-readme.XXXXXX")
trap 'rm -rf "$work"' EXIT
cd "$work"

# Fixtures: two keys and the fingerprint of one, a stand-in stub (an image with an empty key block), a
# setup program (an MZ header pointing to a PE signature), a package.
sfxpack() { "$tool" "$@"; }
sfxpack keygen -o k >/dev/null && sfxpack keygen -o other | sed -n 's/^key //p' > other.fp
{ printf 'MZ a stand-in stub image '; head -c 2000 /dev/zero | tr '\0' 'x'; printf 'JUXsetupDSAKey01'
  head -c 404 /dev/zero; printf 'the rest of the image'; } > stub.exe
{ printf 'MZ'; head -c 58 /dev/zero; printf '\100\0\0\0PE\0\0\144\206setup program\n'; } > setup.exe
sfxpack build --stub stub.exe --key k.key --setup setup.exe -o pkg.exe >/dev/null
mkdir -p nested/sub && printf 'a file\n' >nested/a.txt   # a folder in a --dir folder

# Rows: | `COMMAND` | EXIT | `TEXT` |, in the table that follows the line "<!-- sfxpack-table -->".
rows=$(awk '/<!-- sfxpack-table -->/ { on = 1; next } on && /^\|/ { print; seen = 1; next }
            on && NF == 0 && seen { exit }' "$readme" | grep -E '^\| `' || true)
[ -n "$rows" ] || { echo "FAILED: no table after <!-- sfxpack-table --> in $readme"; exit 1; }
failures=0 count=0
while IFS= read -r row; do
  command=$(sed -E 's/^\| `([^`]*)` \|.*/\1/' <<<"$row")
  expected=$(awk -F'|' '{ gsub(/ /, "", $3); print $3 }' <<<"$row")
  text=$(sed -E 's/^\| `[^`]*` \| [0-9]+ \| `([^`]*)`.*/\1/' <<<"$row")
  status=0
  eval "$command" >out.txt 2>err.txt || status=$?
  count=$((count + 1))
  problem=""
  [ "$status" = "$expected" ] || problem="exit $status, the table says $expected"
  grep -qF -- "$text" out.txt err.txt || problem="$problem; '$text' not printed"
  if grep -qv '^sfxpack: ' err.txt; then problem="$problem; a stderr line without 'sfxpack: '"; fi
  if [ -n "$problem" ]; then
    failures=$((failures + 1))
    echo "FAILED: $command: ${problem#; }"
    sed 's/^/  out: /' out.txt; sed 's/^/  err: /' err.txt
  else
    echo "ok: $command -> $status"
  fi
done <<<"$rows"
echo "$count rows, $failures failed"
[ "$failures" -eq 0 ]
