#!/usr/bin/env bash
# The packages as a user gets them: cpack makes the .deb and the tarball from the host tree; the .deb
# is unpacked into a fresh root and its sfxpack makes a key, builds a package with no --stub (the
# installed stub), verifies and extracts it; the same after the root is moved, and from the tarball.
# Usage: package_install_test.sh HOST_BUILD_DIR. Prints what it runs, so its log is a transcript.
set -euo pipefail
build=$(cd "$1" && pwd)
work=$(mktemp -d "${TMPDIR:-/tmp}/sfxpack-install.XXXXXX")
trap 'rm -rf "$work"' EXIT

fail() { echo "FAILED: $*" >&2; exit 1; }
run() { echo "\$ $*"; "$@"; }
contains() { grep -qF -- "$2" <<<"$1" || fail "expected '$2' in: $1"; }

stubs=$(sed -n 's/^SFX_INSTALL_STUB[A-Z0-9]*:FILEPATH=//p; s/^SFX_WINDOWS_SFXPACK:FILEPATH=//p' "$build/CMakeCache.txt")
for f in $stubs; do
  [ -f "$f" ] || fail "$f is missing: build the win32 and win64 trees first (./dev build)"
done

run cpack -G "DEB;TGZ" --config "$build/CPackConfig.cmake" -B "$work/out" >/dev/null
deb=$(ls "$work"/out/*.deb)
tarball=$(ls "$work"/out/*.tar.gz)

info=$(dpkg-deb -I "$deb")
echo "$info"
contains "$info" "Package: sfxstub"
# Crypto++, libtommath and libtomcrypt are linked in: none is a dependency.
if grep -Eq "Depends:.*(libcrypto|libtom)" <<<"$info"; then fail "the .deb depends on a library sfxpack links in"; fi
contains "$info" "zlib1g"
contains "$info" "libc6"
files=$(dpkg-deb -c "$deb" | awk '{print $1, $6}')
for f in ./usr/bin/sfxpack ./usr/share/sfxstub/sfxstub.exe ./usr/share/sfxstub/sfxstub64.exe \
         ./usr/share/sfxstub/msirunner.exe ./usr/share/sfxstub/msirunner64.exe \
         ./usr/share/man/man1/sfxpack.1.gz ./usr/share/bash-completion/completions/sfxpack \
         ./usr/share/doc/sfxstub/copyright ./usr/share/doc/sfxstub/changelog.gz; do
  contains "$files" "$f"
done
contains "$files" "-rwxr-xr-x ./usr/bin/sfxpack"
contains "$files" "-rw-r--r-- ./usr/share/sfxstub/sfxstub.exe"
if grep -q windows <<<"$files"; then fail "the .deb carries the Windows tool"; fi
cmp "$(sed -n 's/^SFX_INSTALL_STUB:FILEPATH=//p' "$build/CMakeCache.txt")" \
    <(dpkg-deb --fsys-tarfile "$deb" | tar -xO ./usr/share/sfxstub/sfxstub.exe) ||
  fail "the installed stub is not the built one"

# The least a setup program must be: an MZ header pointing to a PE signature for amd64.
fake_program() { printf 'MZ'; head -c 58 /dev/zero; printf '\100\0\0\0PE\0\0\144\206'; printf 'setup program bytes\n'; }

# Use: from an unpacked root, with no --stub; again after the root has moved.
use() {  # tool, expected stub
  local tool=$1 stub=$2 out
  cd "$work" && rm -rf use && mkdir use && cd use
  fake_program > setup.exe
  mkdir payload && printf 'alpha\n' > payload/a.txt && printf 'beta\n' > payload/b.txt
  out=$(run "$tool" keygen -o k)
  echo "$out"
  local fingerprint
  fingerprint=$(sed -n 's/^key //p' <<<"$out")
  [[ $fingerprint == SHA256:* ]] || fail "keygen printed no fingerprint"
  out=$(run "$tool" build --key k.key --setup setup.exe --command '/S %CMDLINE%' --dir payload -o pkg.exe)
  echo "$out"
  contains "$out" "stub $stub"
  contains "$out" "key $fingerprint"
  out=$(run "$tool" verify --fingerprint "$fingerprint" pkg.exe 2>&1)
  echo "$out"
  contains "$out" "valid binary signature record"
  contains "$out" "$fingerprint"
  out=$(run "$tool" extract --fingerprint "$fingerprint" pkg.exe out)
  echo "$out"
  cmp setup.exe out/setup.ovr && cmp payload/a.txt out/a.txt && cmp payload/b.txt out/b.txt ||
    fail "extracted files differ"
  cmp <(head -c 4096 pkg.exe | tail -c 3000) <(head -c 4096 "$stub" | tail -c 3000) ||
    fail "the package does not start with the installed stub"
  # --msi finds the installed MSI runner as build finds the stub.
  { printf '\320\317\021\340\241\261\032\341'; head -c 600 /dev/zero; } > product.msi
  run "$tool" build --key k.key --msi product.msi -o msi.exe >/dev/null
  run "$tool" extract msi.exe msiout >/dev/null
  cmp "$(dirname "$stub")/msirunner.exe" msiout/setup.ovr || fail "the package's setup program is not the installed runner"
}

run dpkg -x "$deb" "$work/root"
use "$work/root/usr/bin/sfxpack" "$work/root/usr/share/sfxstub/sfxstub.exe"
run mv "$work/root" "$work/moved"
use "$work/moved/usr/bin/sfxpack" "$work/moved/usr/share/sfxstub/sfxstub.exe"

version=$("$work/moved/usr/bin/sfxpack" --version)
echo "$version"
[[ $version == "sfxpack "[0-9]* ]] || fail "--version: $version"
contains "$version" "licence: zlib"
# The licence the .deb declares, machine-readable: the project's files under Zlib.
copyright=$(dpkg-deb --fsys-tarfile "$deb" | tar -xO ./usr/share/doc/sfxstub/copyright)
contains "$(sed -n '/^Files: \*$/,/^$/p' <<<"$copyright")" "License: Zlib"
if command -v man >/dev/null; then
  man_warnings=$(MANWIDTH=80 man --warnings -l "$work/moved/usr/share/man/man1/sfxpack.1.gz" 2>&1 >/dev/null || true)
  [ -z "$man_warnings" ] || fail "the man page: $man_warnings"
fi

# Completion asks the installed tool for its commands and options.
completion=$(PATH="$work/moved/usr/bin:$PATH" bash -c '
  source "$1"
  COMP_WORDS=(sfxpack ver); COMP_CWORD=1; _sfxpack; echo "${COMPREPLY[*]}"
  COMP_WORDS=(sfxpack verify --fi); COMP_CWORD=2; _sfxpack; echo "${COMPREPLY[*]}"' _ \
  "$work/moved/usr/share/bash-completion/completions/sfxpack")
echo "completion: $completion"
contains "$completion" "verify version"
contains "$completion" "--fingerprint"

# The tarball: bin/, share/ and windows/ with the static Windows tool.
run mkdir "$work/tar" && tar -xzf "$tarball" -C "$work/tar"
top=$(ls -d "$work"/tar/*/)
top=${top%/}
listing=$(cd "$top" && find . -type f | sort)
echo "$listing"
contains "$listing" "./windows/sfxpack.exe"
contains "$listing" "./LICENSE"
cmp "$top/LICENSE" "$(dirname "$0")/../../LICENSE" || fail "the tarball's LICENSE is not the project's"
contains "$listing" "./share/sfxstub/sfxstub.exe"
use "$top/bin/sfxpack" "$top/share/sfxstub/sfxstub.exe"
if command -v x86_64-w64-mingw32-objdump >/dev/null; then
  dlls=$(x86_64-w64-mingw32-objdump -p "$top/windows/sfxpack.exe" | sed -n 's/.*DLL Name: //p' | tr 'a-z' 'A-Z' | sort | tr '\n' ' ')
  echo "windows/sfxpack.exe imports: $dlls"
  for dll in $dlls; do
    case $dll in KERNEL32.DLL|ADVAPI32.DLL|USER32.DLL|MSVCRT.DLL) ;; *) fail "sfxpack.exe needs $dll" ;; esac
  done
fi
echo "package install test: OK"
