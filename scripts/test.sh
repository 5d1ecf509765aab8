#!/bin/sh
# Builds everything and runs every test: first the host build (byte-level
# code with sanitizers, the publisher's tool, whose packs the Windows tests
# use), then the Windows build under Wine.
set -eu
cd "$(dirname "$0")/.."

./scripts/setup.sh

cmake --preset host
cmake --build --preset host
ctest --preset host

cmake --preset windows
cmake --build --preset windows
ctest --preset windows
