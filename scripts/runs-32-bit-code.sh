#!/bin/sh
# Tells whether 32-bit Windows programs run here under Wine: exit 0 when
# they do, 1 when the platform itself says they cannot (Wine's 32-bit
# loader is missing, or the kernel refuses to execute it: no IA-32
# execution), 2 with a message on standard error for anything else (a
# loader that fails otherwise, a prefix that cannot be made, a Windows
# program that does not start and exit within its time limit). Callers
# stop on 2 rather than take it for "no": a slow first start on a busy
# machine must not quietly switch the tests to another build.
#
# Judged by what actually runs: Wine's 32-bit loader, then a 32-bit prefix
# of this check's own (build/wine32-probe, created once), then a Windows
# program in it that must start and exit.
#
# RUNS32_LOADER names another loader (the tests give it an image this
# kernel cannot execute).
set -u
cd "$(dirname "$0")/.."
PROBE=$(pwd)/build/wine32-probe
export WINEPREFIX="$PROBE/prefix" WINEARCH=win32 HOME="$PROBE/home" WINEDEBUG=-all
export WINEDLLOVERRIDES="mscoree,mshtml="
unset DISPLAY WINELOADER
WINE=${RUNS32_LOADER:-/usr/lib/wine/wine}

[ -e "$WINE" ] || exit 1
# The loader is executed with no fallback: timeout, env and the shells hand
# a file the kernel refuses (ENOEXEC) to /bin/sh, which reads an ELF image
# as a script and fails with a syntax error instead of "Exec format error".
answer=$(timeout 20 python3 -c '
import errno, os, sys
try:
    os.execv(sys.argv[1], [sys.argv[1], "--version"])
except OSError as error:
    print("exec: " + os.strerror(error.errno))
    sys.exit(125 if error.errno == errno.ENOEXEC else 126)
' "$WINE" 2>&1)
status=$?
case $status in
    0) ;;
    125) exit 1 ;;
    *)
        echo "runs-32-bit-code: Wine's 32-bit loader failed (status $status): $answer" >&2
        exit 2
        ;;
esac

fail() {
    echo "runs-32-bit-code: $*" >&2
    wineserver -k >/dev/null 2>&1
    exit 2
}
if [ ! -f "$WINEPREFIX/.ready" ]; then
    rm -rf "$PROBE" && mkdir -p "$HOME" || fail "cannot make $PROBE"
    timeout 120 "$WINE" wineboot.exe -i </dev/null >"$PROBE/wineboot.log" 2>&1 ||
        fail "the 32-bit prefix could not be made within 120 s (see $PROBE/wineboot.log)"
    timeout 60 wineserver -w || fail "the prefix's wineserver did not end within 60 s"
    touch "$WINEPREFIX/.ready"
fi
timeout 30 "$WINE" cmd /c exit 0 </dev/null >/dev/null 2>&1 ||
    fail "a 32-bit Windows program did not start and exit within 30 s"
