#!/usr/bin/env bash
# Sets up Wine's 32-bit loader for the shipped 32-bit stub's Wine tests, in a private root beside
# the build cache, without touching the system's package database:
#   $SFX_CACHE/wine32-root     (default ~/.cache/sfxstub)
#     usr/lib/wine/wine64      a copy of the system's 64-bit loader: Wine looks for the 32-bit loader
#                              beside the 64-bit one, so the tests start this copy
#     usr/lib/wine/wine        runs the i386 loader (wine.i386) under qemu-i386 with this root as
#                              its library prefix; some kernels (this machine's) run no i386 code
#     usr/lib/wine/wineserver  the system's server: 32- and 64-bit processes share one
#     usr/lib/i386-linux-gnu/  Debian's libwine:i386 and the i386 libraries Wine needs at run time
# The packages come from Debian's bookworm main (i386, the same Wine version as the system's wine64)
# through a private apt configuration; qemu-i386 from trixie's qemu-user (static; bookworm's 7.2
# ignores MAP_FIXED_NOREPLACE, which makes every 32-bit Wine start take minutes).
# Idempotent, and quick when the root is there. Never fails the caller: when the root cannot be set
# up it says why, leaves the reason in $SFX_CACHE/wine32-unavailable, removes what it made and exits
# 0; the 32-bit rows then skip with that reason (tests/wine/stub32.sh).
set -uo pipefail
cache=${SFX_CACHE:-$HOME/.cache/sfxstub}
root=$cache/wine32-root
reason_file=$cache/wine32-unavailable
work=$cache/wine32-setup
# The reason file's last line names this way of setting up, so that a reason left by another way is
# not taken for this one's.
method="method=private-root-qemu-1"
mkdir -p "$cache"

wine_version=$(dpkg-query -W -f='${Version}' wine64 2>/dev/null)
if [ -f "$root/.ready" ] && [ "$(cat "$root/.ready")" = "$wine_version" ]; then
  rm -f "$reason_file"
  exit 0
fi

fail() {
  echo "deps: Wine's 32-bit loader cannot be set up here: $1; the 32-bit stub's Wine tests will be skipped" >&2
  printf '%s\n%s\n' "$1" "$method" >"$reason_file"
  rm -rf "$root" "$root.new" "$work"
  exit 0
}

[ -n "$wine_version" ] || fail "wine64 is not installed"
[ "$(dpkg --print-architecture)" = amd64 ] || fail "the system is not amd64"
keyring=/usr/share/keyrings/debian-archive-keyring.gpg
[ -f "$keyring" ] || fail "no Debian archive keyring at $keyring"

echo "deps: setting up Wine's 32-bit loader in $root (private; the system's packages are left alone)" >&2
rm -rf "$root" "$root.new" "$work"
log=$work/log
# A private apt for one architecture and suite: its own lists, cache and an empty dpkg status, so
# that it resolves the whole dependency closure and downloads it, installing nothing.
apt_config() {  # name architecture suite
  local dir=$work/$1
  mkdir -p "$dir/lists/partial" "$dir/archives/partial" "$dir/sources.list.d" "$dir/preferences.d"
  : >"$dir/status"
  echo "deb [arch=$2 signed-by=$keyring] http://deb.debian.org/debian $3 main" >"$dir/sources.list"
  cat >"$dir/apt.conf" <<CONF
Dir::Etc::SourceList "$dir/sources.list";
Dir::Etc::SourceParts "$dir/sources.list.d";
Dir::Etc::Preferences "$dir/preferences";
Dir::Etc::PreferencesParts "$dir/preferences.d";
Dir::State "$dir";
Dir::State::Lists "$dir/lists";
Dir::State::status "$dir/status";
Dir::Cache "$dir";
Dir::Cache::Archives "$dir/archives";
Dir::Cache::pkgcache "";
Dir::Cache::srcpkgcache "";
APT::Architecture "$2";
APT::Architectures { "$2"; };
APT::Install-Recommends "false";
APT::Sandbox::User "root";
Debug::NoLocking "true";
Acquire::Languages "none";
CONF
  APT_CONFIG=$dir/apt.conf apt-get update -qq >"$log" 2>&1 ||
    fail "apt-get update of $3 ($2) failed: $(grep -m1 '^[EW]:' "$log" | cut -c1-200)"
}
apt_in() {  # name apt-get arguments...
  local dir=$work/$1; shift
  (cd "$dir/archives" && APT_CONFIG=$dir/apt.conf apt-get "$@") >"$log" 2>&1
}

mkdir -p "$work" "$root.new"
apt_config i386 i386 bookworm
# What the loader and the stub's DLLs load at run time: the C library, libunwind (ntdll), X11 and its
# extension library (winex11), FreeType and Fontconfig (fonts); no sound, printing, GL or GStreamer.
runtime=(libc6 libunwind8 libx11-6 libxext6 libfreetype6 libfontconfig1)
apt_in i386 install -y -qq --download-only "${runtime[@]}" ||
  fail "the i386 run-time libraries cannot be resolved: $(grep -m1 '^E:' "$log" | cut -c1-200)"
apt_in i386 download "wine32=$wine_version" "libwine=$wine_version" libz-mingw-w64 ||
  fail "wine32:i386 $wine_version cannot be downloaded: $(grep -m1 '^E:' "$log" | cut -c1-200)"
apt_config amd64 amd64 trixie
apt_in amd64 download qemu-user ||
  fail "qemu-user cannot be downloaded: $(grep -m1 '^E:' "$log" | cut -c1-200)"

for deb in "$work"/i386/archives/*.deb; do
  dpkg-deb -x "$deb" "$root.new" || fail "dpkg-deb -x $(basename "$deb") failed"
done
if ! dpkg-deb --fsys-tarfile "$work"/amd64/archives/qemu-user_*.deb | tar -xO ./usr/bin/qemu-i386 >"$root.new/qemu-i386"; then
  fail "qemu-i386 cannot be unpacked"
fi
chmod 755 "$root.new/qemu-i386"

bin=$root.new/usr/lib/wine
if [ ! -f "$bin/wine" ] || [ ! -d "$root.new/usr/lib/i386-linux-gnu/wine/i386-windows" ]; then
  fail "the wine32 and libwine packages do not hold the files expected"
fi
mv "$bin/wine" "$bin/wine.i386"
cp /usr/lib/wine/wine64 "$bin/wine64"
rm -f "$bin/wineserver" "$bin/wineserver32"
ln -s /usr/lib/wine/wineserver "$bin/wineserver"
mkdir -p "$root.new/usr/lib/x86_64-linux-gnu"
ln -s /usr/lib/x86_64-linux-gnu/wine "$root.new/usr/lib/x86_64-linux-gnu/wine"
# Debian's Wine takes zlib from libz-mingw-w64 (user32 imports it).
cp "$root.new/usr/i686-w64-mingw32/lib/zlib1.dll" "$root.new/usr/lib/i386-linux-gnu/wine/i386-windows/" ||
  fail "libz-mingw-w64 holds no i686 zlib1.dll"
# The root's own library cache: without it the i386 ld.so reads the system's, which can name an i386
# libc of another build (libc6-i386's /lib32), one that does not match the root's ld.so.
printf 'include /etc/ld.so.conf.d/*.conf\n' >"$root.new/etc/ld.so.conf"
ldconfig -r "$root.new" >"$log" 2>&1 || fail "ldconfig for the root failed: $(head -c 200 "$log")"
# The i386 loader would exec itself again through a preloader that Debian does not ship; qemu -L
# makes the i386 ld.so and its libraries come from this root. Its argv[0] is this script's name:
# Wine starts a 32-bit child through "wine" and a 64-bit one through "wine64" beside argv[0].
cat >"$bin/wine" <<WRAPPER
#!/bin/sh
# Wine's 32-bit loader under qemu-i386 (see scripts/wine32.sh).
export WINELOADERNOEXEC=1
exec "$root/qemu-i386" -L "$root" -0 "$root/usr/lib/wine/wine" "$root/usr/lib/wine/wine.i386" "\$@"
WRAPPER
chmod 755 "$bin/wine"
mv "$root.new" "$root"

# Smoke test: qemu-i386 runs the i386 dynamic loader, which finds every library of ntdll, win32u
# and winex11 in this root (a full start needs a prefix: tests/wine/stub32.sh makes one).
unix=$root/usr/lib/i386-linux-gnu/wine/i386-unix
for so in ntdll.so win32u.so winex11.so; do
  "$root/qemu-i386" -L "$root" "$root/lib/ld-linux.so.2" --library-path "$unix" --list "$unix/$so" >"$log" 2>&1 ||
    fail "the i386 dynamic loader cannot load $so under qemu-i386: $(head -c 200 "$log")"
  ! grep -q 'not found' "$log" || fail "$so needs a library missing here: $(grep -m1 'not found' "$log")"
done
printf '%s' "$wine_version" >"$root/.ready"
rm -rf "$work" "$reason_file"
echo "deps: Wine's 32-bit loader ready ($wine_version under qemu-i386) in $root" >&2
