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
#       The short run of the test command. First replays the repository's
#       corpus, each file named, so that a failure says which input it was;
#       then fuzzes for the given time, seeded from that corpus (read only)
#       and the ZIP archives in the seed directories, and fails unless the
#       fuzzer reports having read every seed. The seeds are handed over as
#       a file list, not as directories: libFuzzer's prebuilt 32-bit runtime
#       lists directories without large-file support and silently finds no
#       files. A line for the test command's summary goes to <work dir>/summary.
#       FUZZ_EMULATOR, when set, names the program that runs the fuzzer.
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

run() {  # fuzzer, seconds, work dir, then seed dirs or further flags
    fuzzer=$1; seconds=$2; work=$3; shift 3
    # shellcheck disable=SC2086
    ${FUZZ_EMULATOR:-} "$fuzzer" -max_total_time="$seconds" -max_len=65536 -timeout=20 \
        -rss_limit_mb=2048 -print_final_stats=1 -artifact_prefix="$work/" "$work/new" "$@"
}

short_failed() {  # log, message
    tail -n 40 "$1" >&2
    echo "fuzz.sh: $target: $2" >&2
    exit 1
}

if [ "${1:-}" = "--short" ]; then
    target=$2; seconds=$3; fuzzer=$4; work=$5; shift 5
    runner=${FUZZ_EMULATOR:-}
    corpus=$(corpus_of "$target")
    rm -rf "$work"
    mkdir -p "$work/new" "$work/seeds"
    for dir in "$@"; do
        [ -d "$dir" ] || short_failed /dev/null "no seed directory $dir"
        find "$dir" -maxdepth 1 -name '*.zip' -exec cp {} "$work/seeds/" \;
    done

    corpus_files=$(find "$corpus" -type f | wc -l)
    # shellcheck disable=SC2086
    if ! $runner "$fuzzer" -timeout=20 -rss_limit_mb=2048 "$corpus"/* >"$work/replay.log" 2>&1; then
        input=$(grep '^Running: ' "$work/replay.log" | tail -n 1 | cut -c 10-)
        short_failed "$work/replay.log" "replaying ${input:-the corpus} failed (fuzzer: $runner $fuzzer)"
    fi
    replayed=$(grep -c '^Executed ' "$work/replay.log" || true)
    [ "$replayed" -eq "$corpus_files" ] ||
        short_failed "$work/replay.log" "replayed $replayed of $corpus_files corpus files"

    find "$corpus" "$work/seeds" -type f | sort >"$work/seed-files"
    if grep -q , "$work/seed-files"; then
        echo "fuzz.sh: a seed's path holds a comma, which the seed list cannot carry" >&2
        exit 2
    fi
    seeds=$(wc -l <"$work/seed-files")
    paste -sd, "$work/seed-files" | tr -d '\n' >"$work/seed-list"
    run "$fuzzer" "$seconds" "$work" -seed_inputs=@"$work/seed-list" >"$work/fuzz.log" 2>&1 ||
        short_failed "$work/fuzz.log" "the fuzz run failed"
    seeded=$(sed -n 's/^INFO: seed corpus: files: \([0-9]*\).*/\1/p' "$work/fuzz.log")
    [ "${seeded:-0}" -eq "$seeds" ] ||
        short_failed "$work/fuzz.log" "the fuzz run read ${seeded:-no} of $seeds seed files"
    runs=$(sed -n 's/^stat::number_of_executed_units: *//p' "$work/fuzz.log")
    echo "$target: replayed $replayed corpus files; fuzzed ${seconds} s from $seeded seeds, $runs runs" |
        tee "$work/summary"
    exit 0
fi

SECONDS_EACH=${1:-600}
./scripts/setup.sh
cmake --preset host >/dev/null
cmake --build --preset host --target zip_fuzz pack_fuzz zip_tool_archives
TOOL_ARCHIVES=$ROOT/build/host/archive/tool-archives

status=0
pids=""
for target in zip pack; do
    work=$ROOT/build/fuzz/$target
    rm -rf "$work" && mkdir -p "$work/new" "$work/seeds"
    cp "$TOOL_ARCHIVES"/*.zip "$work/seeds/"
    run "$ROOT/build/host/bin/${target}_fuzz" "$SECONDS_EACH" "$work" "$(corpus_of "$target")" \
        "$work/seeds" >"$work/log" 2>&1 &
    pids="$pids $!"
done
# Each run by its own id: a plain wait answers 0 whatever the runs did.
for pid in $pids; do
    wait "$pid" || status=1
done
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
