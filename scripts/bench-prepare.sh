#!/bin/sh
# Benchmark of prepare mode against its peers and its floor, on two payloads
# generated from a fixed seed. Prints numbers; asserts nothing.
#
#   ./scripts/bench-prepare.sh [runs] [scale]
#
# runs: timed runs of each command (default 5); scale: fraction of the full
# payload sizes, 300 MB and 600 MB (default 1). With BASELINE_UPDATER set to
# another build of updater.exe, that one is timed in the same runs too.
set -eu
cd "$(dirname "$0")/.."
RUNS=${1:-5}
SCALE=${2:-1}

./scripts/setup.sh
cmake --preset host >/dev/null && cmake --build --preset host --target packtool >/dev/null
. ./scripts/windows-flavour.sh
cmake --preset $PRESET >/dev/null
cmake --build --preset $PRESET --target updater sample_msi cryptoapi_sha1 write_floor prepare_phases >/dev/null

ROOT=$PWD/build/bench-$PRESET
BIN=$PWD/build/$PRESET/bin
PACKTOOL=$PWD/build/host/bin/packtool
UPDATER=$BIN/updater.exe
PACKAGE=$BIN/letterwing.msi
KEY=$PWD/keys/test-signing-key.pem
mkdir -p "$ROOT"

# A Wine prefix of the benchmark's own, so that the tests' prefix is not
# disturbed; one wineserver for the whole run.
export WINEPREFIX="$ROOT/prefix" WINEARCH=$ARCH WINEDEBUG=-all HOME="$ROOT/home" WINEDLLOVERRIDES="mscoree,mshtml="
unset DISPLAY
mkdir -p "$HOME"
[ -d "$WINEPREFIX" ] || { wine wineboot.exe -i >/dev/null 2>&1; wineserver -w; }
wineserver -p </dev/null >/dev/null 2>&1 || true  # already running: keep it
trap 'wineserver -k' EXIT

echo "generating payloads (scale $SCALE)"
python3 bench/make_payloads.py --out "$ROOT/trees" --updater "$UPDATER" --package "$PACKAGE" --scale "$SCALE"

median() { sort -n | awk '{a[NR]=$1} END {if (NR%2) print a[(NR+1)/2]; else printf "%.4f\n", (a[NR/2]+a[NR/2+1])/2}'; }
minimum() { sort -n | head -1; }
# /usr/bin/time puts a "Command exited with non-zero status" line before its
# own when the command fails; the numbers are always on the last line.
seconds() { /usr/bin/time -f "%e %M" -o "$ROOT/time.out" "$@" >/dev/null 2>&1 || true; tail -1 "$ROOT/time.out" | cut -d' ' -f1; }
peak_kib() { tail -1 "$ROOT/time.out" | cut -d' ' -f2; }
winpath() { printf 'Z:%s' "$1" | tr '/' '\\'; }

for name in app large; do
    TREE="$ROOT/trees/$name"
    PACK="$ROOT/$name.pack"
    ZIP="$ROOT/$name.zip"
    "$PACKTOOL" build "$TREE" "$KEY" "$PACK" >/dev/null
    tail -c +273 "$PACK" >"$ZIP"
    # The payload's entries in archive order, for the write floor.
    python3 -c '
import sys, zipfile, calendar
for info in zipfile.ZipFile(sys.argv[1]).infolist():
    if info.is_dir():
        print("D", info.filename)
    else:
        print("F", info.file_size, calendar.timegm(info.date_time + (0, 0, 0)), info.filename)
' "$ZIP" >"$ROOT/$name.manifest"
    PACK_BYTES=$(stat -c %s "$PACK")
    UNPACKED=$(du -sb "$TREE" | cut -f1)
    FILES=$(find "$TREE" -type f | wc -l)
    : >"$ROOT/prepare.t"; : >"$ROOT/unzip.t"; : >"$ROOT/bsdtar.t"; : >"$ROOT/floor.t"; : >"$ROOT/rss.t"; : >"$ROOT/wine-sha1.t"; : >"$ROOT/wfloor.t"; : >"$ROOT/baseline.t"
    for run in $(seq "$RUNS"); do
        STAGE="$ROOT/stage"
        rm -rf "$STAGE" && mkdir -p "$STAGE"
        cp "$PACK" "$ROOT/run.pack"
        # Every timed command starts with no dirty pages left by the one
        # before, so that none pays for another's write-back.
        sync
        (cd "$STAGE" && seconds "$LOADER" "$UPDATER" prepare "$(winpath "$STAGE")" "$(winpath "$ROOT/run.pack")" app) >>"$ROOT/prepare.t"
        peak_kib >>"$ROOT/rss.t"
        wine reg delete 'HKLM\Software\Microsoft\Windows\CurrentVersion\RunOnce' /v '!letterwing_update_runonce' /f >/dev/null 2>&1 || true
        if [ -n "${BASELINE_UPDATER:-}" ]; then
            rm -rf "$STAGE" && mkdir -p "$STAGE" && cp "$PACK" "$ROOT/run.pack" && sync
            (cd "$STAGE" && seconds "$LOADER" "$BASELINE_UPDATER" prepare "$(winpath "$STAGE")" "$(winpath "$ROOT/run.pack")" app) >>"$ROOT/baseline.t"
            wine reg delete 'HKLM\Software\Microsoft\Windows\CurrentVersion\RunOnce' /v '!letterwing_update_runonce' /f >/dev/null 2>&1 || true
        fi
        rm -rf "$ROOT/out" && mkdir -p "$ROOT/out" && sync
        seconds unzip -o -q "$ZIP" -d "$ROOT/out" >>"$ROOT/unzip.t"
        rm -rf "$ROOT/out" && mkdir -p "$ROOT/out" && sync
        seconds bsdtar -xf "$ZIP" -C "$ROOT/out" >>"$ROOT/bsdtar.t"
        sync
        python3 bench/floor.py "$PACK" "$ROOT/out" | awk '{printf "%.4f %s\n", $1+$2+$3+$4, $0}' >>"$ROOT/floor.t"
        sync
        wine "$BIN/cryptoapi_sha1.exe" "$(winpath "$PACK")" >>"$ROOT/wine-sha1.t"
        # The platform's floor: the same files made from memory under the
        # same Wine, timed the same way as prepare.
        rm -rf "$ROOT/wout" && mkdir -p "$ROOT/wout" && sync
        seconds "$LOADER" "$BIN/write_floor.exe" "$(winpath "$ROOT/$name.manifest")" "$(winpath "$ROOT/wout")" >>"$ROOT/wfloor.t"
    done
    # One run taken apart into its phases.
    rm -rf "$STAGE" && mkdir -p "$STAGE" && sync
    PHASES=$(wine "$BIN/prepare_phases.exe" "$(winpath "$PACK")" "$(winpath "$STAGE")")
    seconds "$LOADER" "$UPDATER" >/dev/null
    BASE_KIB=$(peak_kib)
    P_MED=$(median <"$ROOT/prepare.t"); P_MIN=$(minimum <"$ROOT/prepare.t")
    U_MED=$(median <"$ROOT/unzip.t"); U_MIN=$(minimum <"$ROOT/unzip.t")
    B_MED=$(median <"$ROOT/bsdtar.t"); B_MIN=$(minimum <"$ROOT/bsdtar.t")
    F_MED=$(cut -d' ' -f1 "$ROOT/floor.t" | median); F_MIN=$(cut -d' ' -f1 "$ROOT/floor.t" | minimum)
    W_MED=$(median <"$ROOT/wfloor.t"); W_MIN=$(minimum <"$ROOT/wfloor.t")
    RSS_KIB=$(median <"$ROOT/rss.t")
    echo
    echo "== $name: $FILES files, $UNPACKED bytes unpacked, pack $PACK_BYTES bytes, $RUNS runs"
    printf '%-28s %10s %10s\n' "command" "median s" "min s"
    printf '%-28s %10s %10s\n' "updater.exe prepare (Wine)" "$P_MED" "$P_MIN"
    printf '%-28s %10s %10s\n' "unzip -o -q" "$U_MED" "$U_MIN"
    printf '%-28s %10s %10s\n' "bsdtar -xf" "$B_MED" "$B_MIN"
    printf '%-28s %10s %10s\n' "floor (read+sha1+inflate+write)" "$F_MED" "$F_MIN"
    printf '%-28s %10s %10s\n' "Windows write floor (Wine)" "$W_MED" "$W_MIN"
    awk -v p="$P_MED" -v u="$U_MED" -v b="$B_MED" -v f="$F_MED" -v w="$W_MED" 'BEGIN {
        printf "ratios (medians): prepare/unzip %.2f  prepare/bsdtar %.2f  prepare/floor %.2f  prepare/Windows floor %.2f\n", p/u, p/b, p/f, p/w }'
    if [ -n "${BASELINE_UPDATER:-}" ]; then
        BL_MED=$(median <"$ROOT/baseline.t")
        awk -v p="$P_MED" -v b="$BL_MED" 'BEGIN { printf "baseline updater.exe prepare, median %.4f s; prepare/baseline %.2f\n", b, p/b }'
    fi
    echo "prepare's phases, one run (s): $PHASES (read alone; load = read with the payload hashed alongside, signature, open; inflate+write)"
    echo "floor parts, medians (read sha1 inflate write, s): $(for k in 2 3 4 5; do cut -d' ' -f$k "$ROOT/floor.t" | median; done | tr '\n' ' ')"
    echo "SHA-1 of the payload through CryptoAPI under Wine, median: $(median <"$ROOT/wine-sha1.t") s (the floor's SHA-1 is OpenSSL's)"
    awk -v r="$RSS_KIB" -v b="$BASE_KIB" -v s="$PACK_BYTES" 'BEGIN {
        extra = (r - b) * 1024; printf "peak RSS: prepare %d KiB, no-argument run %d KiB, extra %.1f MiB for a %.1f MiB pack (extra - pack = %.1f MiB)\n",
        r, b, extra/1048576, s/1048576, (extra - s)/1048576 }'
done
