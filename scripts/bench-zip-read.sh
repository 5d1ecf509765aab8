#!/bin/sh
# Benchmark, not a test: reads every entry of a large archive from memory
# with the program's own ZIP parsing layer (host build, no sanitizers) and
# prints its rate of uncompressed output beside `unzip -t` on the same
# archive, in the same run.
# usage: scripts/bench-zip-read.sh [megabytes]   (default 300)
set -eu
cd "$(dirname "$0")/.."
megabytes=${1:-300}
work=build/bench-zip-read
mkdir -p "$work"

cmake --preset host -B "$work/build" -DUPDATER_SANITIZE=OFF > "$work/configure.log"
cmake --build "$work/build" -j2 --target zip_read_bench > "$work/build.log"

archive="$work/bench-$megabytes.zip"
if [ ! -f "$archive" ]; then
    python3 archive/bench/make_bench_archive.py "$archive.tmp" "$megabytes"
    mv "$archive.tmp" "$archive"
fi
ls -l "$archive"

# Uncompressed total as unzip counts it, for unzip's own rate.
bytes=$(unzip -l "$archive" | tail -1 | awk '{print $1}')

# Warm the page cache so both readers start from memory.
cat "$archive" > /dev/null

"$work/build/bin/zip_read_bench" "$archive"

start=$(date +%s.%N)
unzip -tqq "$archive"
end=$(date +%s.%N)
awk -v b="$bytes" -v s="$start" -v e="$end" 'BEGIN {
    t = e - s
    printf "unzip -t:       %.1f MB uncompressed, %.3f s, %.1f MB/s\n", b / 1e6, t, b / 1e6 / t
}'
