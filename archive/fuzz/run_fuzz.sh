#!/bin/sh
# A short fuzz run of the archive parser, seeded with the repository's corpus
# and the archives made by real tools. New inputs go to a scratch directory
# in the build tree; the repository's corpus is only read.
# usage: run_fuzz.sh <fuzzer> <work dir> <seconds> <corpus dir> <tool archives dir>
set -eu
fuzzer=$1
work=$2
seconds=$3
corpus=$4
tools=$5
rm -rf "$work"
mkdir -p "$work/new" "$work/tool-archives"
# The archives only; the tree the tools archived is not a seed.
cp "$tools"/*.zip "$work/tool-archives/"
exec "$fuzzer" -max_total_time="$seconds" -max_len=65536 -timeout=20 -rss_limit_mb=2048 \
    -print_final_stats=1 -artifact_prefix="$work/" \
    "$work/new" "$corpus" "$work/tool-archives"
