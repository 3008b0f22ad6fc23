#!/usr/bin/env bash
# ./dev's Wine clean-up runs in an EXIT trap under set -e: a command failing there (no Wine server
# left to stop, which is the usual case) made the whole Windows step fail after every test passed.
set -euo pipefail
dev=$1
scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT
cat >"$scratch/run.sh" <<'RUN'
set -euo pipefail
source <(sed -n '/^stop_wine()/,/^}/p' "$1")
export WINEPREFIX=$2/prefix SFX_WINEPREFIX32=$2/prefix-wow64
mkdir -p "$WINEPREFIX" "$SFX_WINEPREFIX32"
trap stop_wine EXIT
RUN
if ! bash "$scratch/run.sh" "$dev" "$scratch"; then
  echo "FAIL: stop_wine fails the step it ends" >&2
  exit 1
fi
for left in prefix prefix-wow64; do
  if [ -e "$scratch/$left" ]; then echo "FAIL: $left left behind" >&2; exit 1; fi
done
echo "ok"
