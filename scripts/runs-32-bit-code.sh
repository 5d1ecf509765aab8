#!/bin/sh
# Exits 0 when 32-bit Windows programs run here under Wine at a usable speed,
# judged by what actually runs, each step within a time limit: Wine's 32-bit
# loader, then a 32-bit prefix of this check's own (build/wine32-probe,
# created once), then a Windows program in it that must start and exit.
#
# A kernel without IA-32 execution refuses the loader at once. An emulator
# that someone registered with the kernel (binfmt) runs it, but each Wine
# process then takes most of a minute to start and the prefix is never
# filled; the time limits answer no for that machine too.
set -u
cd "$(dirname "$0")/.."
PROBE=$(pwd)/build/wine32-probe
export WINEPREFIX="$PROBE/prefix" WINEARCH=win32 HOME="$PROBE/home" WINEDEBUG=-all
export WINEDLLOVERRIDES="mscoree,mshtml="
unset DISPLAY WINELOADER
WINE=/usr/lib/wine/wine

timeout 20 "$WINE" --version >/dev/null 2>&1 || exit 1

given_up() {
    wineserver -k >/dev/null 2>&1
    exit 1
}
if [ ! -f "$WINEPREFIX/.ready" ]; then
    rm -rf "$PROBE" && mkdir -p "$HOME" || exit 1
    timeout 120 "$WINE" wineboot.exe -i </dev/null >"$PROBE/wineboot.log" 2>&1 || given_up
    timeout 60 wineserver -w || given_up
    touch "$WINEPREFIX/.ready"
fi
timeout 30 "$WINE" cmd /c exit 0 </dev/null >/dev/null 2>&1 || given_up
