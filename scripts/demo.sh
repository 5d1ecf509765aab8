#!/bin/sh
# Runs the update cycle on the bundled sample under Wine and prints each
# step's outcome. Everything happens inside build/windows (the program, the
# Wine prefix, the staging directory).
set -eu
cd "$(dirname "$0")/.."

./scripts/setup.sh
cmake --preset windows >/dev/null
cmake --build --preset updater

WINE_RUN=build/windows/wine/wine-run
DEMO=build/windows/demo
rm -rf "$DEMO"
mkdir -p "$DEMO"
cp build/windows/bin/updater.exe "$DEMO/"

step() {
    printf '\n== %s\n' "$1"
}

step "updater.exe without arguments (expected exit code 128)"
set +e
"$WINE_RUN" "$DEMO/updater.exe"
echo "exit code: $?"
step "updater.exe with an unknown mode word (expected exit code 0, nothing done)"
"$WINE_RUN" "$DEMO/updater.exe" PREPARE a b c
echo "exit code: $?"
set -e
build/windows/wine/wine-server stop >/dev/null
