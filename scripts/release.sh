#!/bin/sh
# Builds the updater.exe that ships: in a clean build tree of its own, with
# the release public key built in, signed with a code-signing certificate
# when one is given. Writes dist/updater.exe and dist/SHA256SUMS and says
# what it did.
#
#   ./scripts/release.sh --key <release.pub.blob>
#       [--pfx <cert.pfx> [--pass-file <file>] | --cert <cert.pem> --cert-key <key.pem>]
#       [--timestamp <url>] [--allow-dirty] [--build-dir <dir>] [--dist <dir>]
#
# The image carries no time stamp and no build path, so one commit builds to
# the same unsigned bytes anywhere; the signature (and its time stamp) is
# the only part that differs between two releases of one commit. It refuses
# the committed test key, and a work tree with changes that are not
# committed unless --allow-dirty is given (the image would then come from
# no commit).
set -eu
ROOT=$(cd "$(dirname "$0")/.." && pwd)

KEY= PFX= PASS_FILE= CERT= CERT_KEY= TIMESTAMP= ALLOW_DIRTY=
BUILD=$ROOT/build/release
DIST=$ROOT/dist
# Paths given relative to where the script was started.
absolute() { case $1 in /*) echo "$1" ;; *) echo "$PWD/$1" ;; esac; }
usage() {
    sed -n '7,9p' "$0" >&2
    exit 1
}
while [ $# -gt 0 ]; do
    [ $# -ge 2 ] || [ "$1" = --allow-dirty ] || usage
    case $1 in
        --key) KEY=$(absolute "$2"); shift 2 ;;
        --pfx) PFX=$(absolute "$2"); shift 2 ;;
        --pass-file) PASS_FILE=$(absolute "$2"); shift 2 ;;
        --cert) CERT=$(absolute "$2"); shift 2 ;;
        --cert-key) CERT_KEY=$(absolute "$2"); shift 2 ;;
        --timestamp) TIMESTAMP=$2; shift 2 ;;
        --build-dir) BUILD=$(absolute "$2"); shift 2 ;;
        --dist) DIST=$(absolute "$2"); shift 2 ;;
        --allow-dirty) ALLOW_DIRTY=yes; shift ;;
        *) usage ;;
    esac
done
refuse() {
    echo "release: $*" >&2
    exit 1
}
cd "$ROOT"
[ -n "$KEY" ] || usage
[ -f "$KEY" ] && [ "$(wc -c <"$KEY")" -eq 276 ] ||
    refuse "$KEY is not a 276-byte public key blob (packtool keygen makes one)"
cmp -s "$KEY" keys/test-signing-key.pub.blob &&
    refuse "$KEY is the committed TEST key, whose private half anybody can read"
if [ -n "$PFX" ] && [ -n "$CERT$CERT_KEY" ]; then
    refuse "give either --pfx or --cert with --cert-key, not both"
fi
if [ -n "$CERT$CERT_KEY" ] && { [ -z "$CERT" ] || [ -z "$CERT_KEY" ]; }; then
    refuse "--cert and --cert-key go together"
fi
if [ -n "$(git status --porcelain 2>/dev/null)" ] && [ -z "$ALLOW_DIRTY" ]; then
    refuse "the work tree has changes that are not committed (--allow-dirty builds it anyway)"
fi
COMMIT=$(git rev-parse HEAD 2>/dev/null || echo unknown)
[ -z "$ALLOW_DIRTY" ] || [ -z "$(git status --porcelain 2>/dev/null)" ] ||
    COMMIT="$COMMIT with changes that are not committed"

./scripts/setup.sh
rm -rf "$BUILD"
mkdir -p "$BUILD"
cmake -S "$ROOT" -B "$BUILD" -G Ninja -DCMAKE_TOOLCHAIN_FILE="$ROOT/cmake/toolchain-mingw-i686.cmake" \
    -DCMAKE_BUILD_TYPE=MinSizeRel -DUPDATER_PROGRAM_ONLY=ON -DUPDATER_PUBLIC_KEY_FILE="$KEY" \
    >"$BUILD/configure.log" 2>&1 || { cat "$BUILD/configure.log" >&2; refuse "configuring failed"; }
cmake --build "$BUILD" --target updater >"$BUILD/build.log" 2>&1 ||
    { cat "$BUILD/build.log" >&2; refuse "building failed"; }
UNSIGNED=$BUILD/bin/updater.exe

mkdir -p "$DIST"
rm -f "$DIST/updater.exe" "$DIST/SHA256SUMS"
if [ -n "$PFX$CERT" ]; then
    set -- -n "Letterwing Updater" -h sha256
    if [ -n "$PFX" ]; then
        set -- "$@" -pkcs12 "$PFX"
        [ -z "$PASS_FILE" ] || set -- "$@" -readpass "$PASS_FILE"
    else
        set -- "$@" -certs "$CERT" -key "$CERT_KEY"
    fi
    [ -z "$TIMESTAMP" ] || set -- "$@" -t "$TIMESTAMP"
    osslsigncode sign "$@" -in "$UNSIGNED" -out "$DIST/updater.exe" >"$BUILD/sign.log" 2>&1 ||
        { cat "$BUILD/sign.log" >&2; refuse "signing failed"; }
    SIGNED="signed with ${PFX:-$CERT}${TIMESTAMP:+, time-stamped by $TIMESTAMP}"
else
    cp "$UNSIGNED" "$DIST/updater.exe"
    SIGNED="NOT signed: no certificate was given"
fi
(cd "$DIST" && sha256sum updater.exe >SHA256SUMS)

echo "release: commit $COMMIT"
echo "release: public key $KEY, SHA-256 $(sha256sum "$KEY" | cut -d' ' -f1)"
echo "release: unsigned image $UNSIGNED, SHA-256 $(sha256sum "$UNSIGNED" | cut -d' ' -f1)"
echo "release: $DIST/updater.exe, $SIGNED"
echo "release: $DIST/SHA256SUMS: $(cat "$DIST/SHA256SUMS")"
