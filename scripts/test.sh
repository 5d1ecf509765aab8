#!/bin/sh
# Builds everything and runs every test: first the host build (byte-level
# code with sanitizers, the publisher's tool, whose packs the Windows tests
# use), then the same portable layers as 32-bit programs under qemu-i386,
# then the Windows build under Wine.
set -eu
cd "$(dirname "$0")/.."

./scripts/setup.sh

cmake --preset host
cmake --build --preset host
ctest --preset host
cat build/host/archive/zip_fuzz-work/summary build/host/pack/pack_fuzz-work/summary

cmake --preset host-i386
cmake --build --preset host-i386
ctest --preset host-i386
echo "32-bit, under qemu-i386:"
cat build/host-i386/archive/zip_fuzz-work/summary build/host-i386/pack/pack_fuzz-work/summary

# updater.exe ships as a 32-bit program and is always built so, with every
# test program. Its tests run under 32-bit Wine where this machine runs
# 32-bit x86 code; where it runs none (a kernel without IA-32 emulation), or
# where UPDATER_WINDOWS_FLAVOUR=x64 asks for it, the same sources are built
# for 64-bit Windows and tested under 64-bit Wine, and the image test still
# checks the 32-bit updater.exe.
cmake --preset windows
cmake --build --preset windows
. ./scripts/windows-flavour.sh
if [ "$PRESET" != windows ]; then
    cmake --preset "$PRESET"
    cmake --build --preset "$PRESET"
fi
ctest --preset "$PRESET"
