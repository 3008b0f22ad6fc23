#!/usr/bin/env bash
# Tries to install Wine's 32-bit loader (Debian's wine32:i386), which the end-to-end tests need to run
# the shipped 32-bit stub. Never fails the caller: when the install cannot be done, it says why, puts
# the package lists back as they were (no i386 architecture left behind, so that a later apt-get
# update stays clean) and exits 0; the tests then skip the 32-bit rows with that reason.
set -uo pipefail
reason_file=${SFX_CACHE:-$HOME/.cache/sfxstub}/wine32-unavailable
mkdir -p "$(dirname "$reason_file")"

if dpkg-query -W -f='${Status}' wine32:i386 2>/dev/null | grep -q 'install ok installed'; then
  rm -f "$reason_file"
  exit 0
fi
SUDO=""
[ "$(id -u)" -eq 0 ] || SUDO=sudo
export DEBIAN_FRONTEND=noninteractive
apt_lock=(-o DPkg::Lock::Timeout=300)

fail() {
  echo "deps: wine32:i386 cannot be installed here: $1; the 32-bit stub's Wine tests will be skipped" >&2
  printf '%s\n' "$1" >"$reason_file"
  if ! dpkg-query -W -f='${Status}' wine32:i386 2>/dev/null | grep -q 'install ok installed' &&
     [ -z "$(dpkg-query -W -f='${binary:Package}\n' '*:i386' 2>/dev/null)" ]; then
    $SUDO dpkg --remove-architecture i386 2>/dev/null || true
    $SUDO apt-get "${apt_lock[@]}" update -qq >/dev/null 2>&1 || true
  fi
  exit 0
}

added=0
if ! dpkg --print-foreign-architectures | grep -qx i386; then
  $SUDO dpkg --add-architecture i386 || fail "dpkg --add-architecture i386 failed"
  added=1
fi
log=$(mktemp)
if ! $SUDO apt-get "${apt_lock[@]}" update -qq >"$log" 2>&1 || grep -q '^[WE]:.*i386' "$log"; then
  fail "apt-get update for i386 failed ($(grep -m1 '^[WE]:' "$log" | cut -c1-200))"
fi
if ! $SUDO apt-get "${apt_lock[@]}" install -y -qq --no-install-recommends wine32:i386 >"$log" 2>&1; then
  fail "apt-get install wine32:i386 failed ($(grep -m1 '^E:' "$log" | cut -c1-200))"
fi
rm -f "$log" "$reason_file"
echo "deps: wine32:i386 installed" >&2
