#!/bin/sh
# Builds everything and runs every test: the Windows build under Wine, then
# the host build (byte-level code with sanitizers, the publisher's tool).
set -eu
cd "$(dirname "$0")/.."

./scripts/setup.sh

cmake --preset windows
cmake --build --preset windows
ctest --preset windows

cmake --preset host
cmake --build --preset host
ctest --preset host
