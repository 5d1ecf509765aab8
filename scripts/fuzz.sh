#!/bin/sh
# Fuzzing of the byte-level code with libFuzzer, AddressSanitizer and UBSan.
#
#   ./scripts/fuzz.sh [seconds]
#       Builds the host preset and runs both fuzz targets side by side (one
#       core each) for the given time (default 600 s), then minimises each
#       grown corpus into the repository (archive/fuzz/corpus and
#       pack/fuzz/corpus), ready to commit. Crashes are left in
#       build/fuzz/<target>/ and make the command fail.
#
#   scripts/fuzz.sh --short <zip|pack> <seconds> <fuzzer> <work dir> [seed dir...]
#       The short run of the test command: starts from the repository's
#       corpus (read only) and the ZIP archives in the seed directories.
set -eu
cd "$(dirname "$0")/.."
ROOT=$PWD

corpus_of() {
    case "$1" in
    zip) echo "$ROOT/archive/fuzz/corpus" ;;
    pack) echo "$ROOT/pack/fuzz/corpus" ;;
    *) echo "fuzz.sh: unknown target $1" >&2; exit 2 ;;
    esac
}

run() {  # fuzzer, seconds, work dir, seed dirs...
    fuzzer=$1; seconds=$2; work=$3; shift 3
    "$fuzzer" -max_total_time="$seconds" -max_len=65536 -timeout=20 -rss_limit_mb=2048 \
        -print_final_stats=1 -artifact_prefix="$work/" "$work/new" "$@"
}

if [ "${1:-}" = "--short" ]; then
    target=$2; seconds=$3; fuzzer=$4; work=$5; shift 5
    rm -rf "$work"
    mkdir -p "$work/new" "$work/seeds"
    for dir in "$@"; do
        cp "$dir"/*.zip "$work/seeds/" 2>/dev/null || true
    done
    run "$fuzzer" "$seconds" "$work" "$(corpus_of "$target")" "$work/seeds"
    exit 0
fi

SECONDS_EACH=${1:-600}
./scripts/setup.sh
cmake --preset host >/dev/null
cmake --build --preset host --target zip_fuzz pack_fuzz zip_tool_archives
TOOL_ARCHIVES=$ROOT/build/host/archive/tool-archives

status=0
for target in zip pack; do
    work=$ROOT/build/fuzz/$target
    rm -rf "$work" && mkdir -p "$work/new" "$work/seeds"
    cp "$TOOL_ARCHIVES"/*.zip "$work/seeds/"
    run "$ROOT/build/host/bin/${target}_fuzz" "$SECONDS_EACH" "$work" "$(corpus_of "$target")" \
        "$work/seeds" >"$work/log" 2>&1 &
done
wait || status=1
for target in zip pack; do
    work=$ROOT/build/fuzz/$target
    echo "== $target: $(grep -E '^stat::number_of_executed_units|^stat::peak_rss_mb' "$work/log" | tr '\n' ' ')"
    grep -E '^#[0-9]+ +DONE' "$work/log" || true
    if ls "$work"/crash-* "$work"/leak-* "$work"/timeout-* "$work"/oom-* >/dev/null 2>&1; then
        echo "== $target: findings in $work"
        status=1
    fi
    corpus=$(corpus_of "$target")
    mkdir -p "$work/minimised"
    "$ROOT/build/host/bin/${target}_fuzz" -merge=1 "$work/minimised" "$corpus" "$work/new" \
        "$work/seeds" >"$work/merge.log" 2>&1
    rm -f "$corpus"/*
    cp "$work/minimised"/* "$corpus"/
    echo "== $target: corpus minimised to $(ls "$corpus" | wc -l) inputs in ${corpus#"$ROOT"/}"
done
exit $status
