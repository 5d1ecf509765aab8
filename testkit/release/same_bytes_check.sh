#!/bin/sh
# updater.exe built once more, in another build tree, is the same bytes as
# the one built here: one commit, one image.
#   same_bytes_check.sh <source dir> <built updater.exe> <public key blob> <scratch dir>
set -u
source=$1 built=$2 key=$3 scratch=$4
rm -rf "$scratch" && mkdir -p "$scratch" || exit 1
if ! { cmake -S "$source" -B "$scratch" -G Ninja \
           -DCMAKE_TOOLCHAIN_FILE="$source/cmake/toolchain-mingw-i686.cmake" \
           -DCMAKE_BUILD_TYPE=MinSizeRel -DUPDATER_PROGRAM_ONLY=ON \
           -DUPDATER_PUBLIC_KEY_FILE="$key" &&
       cmake --build "$scratch" --target updater; } >"$scratch.log" 2>&1; then
    cat "$scratch.log"
    echo "FAIL: the second build failed"
    exit 1
fi
if cmp "$built" "$scratch/bin/updater.exe"; then
    echo "PASS: the image built in $scratch is the same bytes as $built"
    rm -rf "$scratch" "$scratch.log"
    exit 0
fi
echo "FAIL: the same sources built in another tree give other bytes"
exit 1
