#!/bin/sh
# Builds the updater.exe that ships, from the commit checked out (HEAD,
# exported with git archive; nothing else of the work tree is read), with the
# release public key built in, signed with a code-signing certificate when
# one is given. Writes dist/updater.exe, dist/updater.unsigned.exe,
# dist/BUILDINFO and dist/SHA256SUMS, and says what it did.
#
#   ./scripts/release.sh --key <release.pub.blob>
#       [--pfx <cert.pfx> | --cert <cert.pem> --cert-key <key.pem>] [--pass-file <file>]
#       [--timestamp <RFC 3161 URL>] [--ca-file <root.pem>] [--build-dir <dir>] [--dist <dir>]
#
# The image carries no time stamp and no build path, so one commit builds to
# the same unsigned bytes anywhere; the signature (and its time stamp) is the
# only part that differs between two releases of one commit. Before it
# removes or builds anything it refuses what would make the release other
# than the operator believes (no git checkout, changes not committed, the
# committed test key), a build or dist directory whose removal would take
# more than the release's own files, and missing tools: it installs nothing
# (scripts/setup.sh does).
set -eu
# The checkout judged is the one this script is in, whatever the caller's
# environment names.
unset GIT_DIR GIT_WORK_TREE GIT_INDEX_FILE
ROOT=$(cd "$(dirname "$0")/.." && pwd -P)
START=$(pwd -P)

KEY= PFX= PASS_FILE= CERT= CERT_KEY= TIMESTAMP= CA_FILE=
BUILD=$ROOT/build/release
DIST=$ROOT/dist
usage() {
    sed -n '/^#   \.\/scripts\/release\.sh/,/^#$/s/^#//p' "$0" >&2
    exit 1
}
refuse() {
    echo "release: $*" >&2
    exit 1
}
# Files given relative to where the script was started.
given() { realpath -m -- "$1"; }
while [ $# -gt 0 ]; do
    [ "$1" != --allow-dirty ] ||
        refuse "there is no --allow-dirty: a release is built from the commit alone, so commit first"
    [ $# -ge 2 ] || usage
    case $1 in
        --key) KEY=$(given "$2") ;;
        --pfx) PFX=$(given "$2") ;;
        --pass-file) PASS_FILE=$(given "$2") ;;
        --cert) CERT=$(given "$2") ;;
        --cert-key) CERT_KEY=$(given "$2") ;;
        --ca-file) CA_FILE=$(given "$2") ;;
        --timestamp) TIMESTAMP=$2 ;;
        --build-dir) BUILD=$2 ;;
        --dist) DIST=$2 ;;
        *) usage ;;
    esac
    shift 2
done
[ -n "$KEY" ] || usage

missing=
need() { for t; do command -v "$t" >/dev/null 2>&1 || missing="$missing $t"; done; }
need git cmake ninja sha256sum tar realpath \
    i686-w64-mingw32-gcc-posix i686-w64-mingw32-g++-posix i686-w64-mingw32-windres
[ -z "$PFX$CERT" ] || need osslsigncode
[ -z "$missing" ] || refuse "missing tools:$missing (scripts/setup.sh installs them)"

top=$(git -C "$ROOT" rev-parse --show-toplevel 2>/dev/null) && [ "$(cd "$top" && pwd -P)" = "$ROOT" ] ||
    refuse "$ROOT is not the top of a git checkout; a release is built from a commit"

[ -f "$KEY" ] && [ "$(wc -c <"$KEY")" -eq 276 ] ||
    refuse "$KEY is not a 276-byte public key blob (packtool keygen makes one)"
git -C "$ROOT" cat-file blob HEAD:keys/test-signing-key.pub.blob 2>/dev/null | cmp -s - "$KEY" &&
    refuse "$KEY is the committed TEST key, whose private half anybody can read"
if [ -n "$PFX" ] && [ -n "$CERT$CERT_KEY" ]; then
    refuse "give either --pfx or --cert with --cert-key, not both"
fi
if [ -n "$CERT$CERT_KEY" ] && { [ -z "$CERT" ] || [ -z "$CERT_KEY" ]; }; then
    refuse "--cert and --cert-key go together"
fi
[ -z "$PASS_FILE$CA_FILE$TIMESTAMP" ] || [ -n "$PFX$CERT" ] ||
    refuse "--pass-file, --ca-file and --timestamp are for signing: give a certificate"
for f in "$PFX" "$CERT" "$CERT_KEY" "$PASS_FILE" "$CA_FILE"; do
    [ -z "$f" ] || [ -f "$f" ] || refuse "$f: no such file"
done

# The build directory is removed whole and the release's files in dist are
# replaced: neither may be a directory that holds anything else of value.
# Judged on the resolved path (relative to where the script was started,
# "..", trailing slashes and symbolic links followed).
place() {
    [ -n "$2" ] || refuse "will not use an empty path as $1"
    p=$(realpath -m -- "$2")
    [ "$p" != / ] || refuse "will not use / as $1"
    for held in "$ROOT" "$START" "$(realpath -m -- "${HOME:-/}")"; do
        case $held/ in "$p"/*) refuse "will not use $p as $1: it is or holds $held" ;; esac
    done
    case $p/ in
        "$ROOT"/*) git -C "$ROOT" check-ignore -q -- "${p#"$ROOT"/}/" ||
            refuse "will not use $p as $1: it is inside the checkout and git does not ignore it" ;;
    esac
    echo "$p"
}
BUILD=$(place --build-dir "$BUILD")
DIST=$(place --dist "$DIST")
case $BUILD/ in "$DIST"/*) refuse "will not use $BUILD as --build-dir: it is inside --dist $DIST" ;; esac
case $DIST/ in "$BUILD"/*) refuse "will not use $DIST as --dist: it is inside --build-dir $BUILD" ;; esac
# Removed whole, so only when this script made it (or it is empty).
[ ! -e "$BUILD" ] || [ -f "$BUILD/.release-build" ] || [ -z "$(ls -A "$BUILD")" ] ||
    refuse "will not remove $BUILD: it holds files and no release was built there; remove it yourself"

[ -z "$(git -C "$ROOT" status --porcelain)" ] ||
    refuse "the work tree has changes that are not committed, or files git does not track;" \
        "a release is built from the commit alone: commit them or move them away"
COMMIT=$(git -C "$ROOT" rev-parse HEAD)

# From here on dist holds none of the release's files until all of them are
# built, signed and checked: a failed run leaves no earlier release's files
# beside it, and no part of its own.
SRC=$BUILD/src OUT=$BUILD/out STAGE=$BUILD/dist
rm -rf "$BUILD"
mkdir -p "$SRC" "$STAGE" "$DIST"
touch "$BUILD/.release-build"
rm -f "$DIST/updater.exe" "$DIST/updater.unsigned.exe" "$DIST/BUILDINFO" "$DIST/SHA256SUMS"

git -C "$ROOT" archive --format=tar -o "$BUILD/source.tar" "$COMMIT"
tar -xf "$BUILD/source.tar" -C "$SRC"
rm "$BUILD/source.tar"
cmake -S "$SRC" -B "$OUT" -G Ninja -DCMAKE_TOOLCHAIN_FILE="$SRC/cmake/toolchain-mingw-i686.cmake" \
    -DCMAKE_BUILD_TYPE=MinSizeRel -DUPDATER_PROGRAM_ONLY=ON -DUPDATER_PUBLIC_KEY_FILE="$KEY" \
    >"$BUILD/configure.log" 2>&1 || { cat "$BUILD/configure.log" >&2; refuse "configuring failed"; }
cmake --build "$OUT" --target updater >"$BUILD/build.log" 2>&1 ||
    { cat "$BUILD/build.log" >&2; refuse "building failed"; }
cp "$OUT/bin/updater.exe" "$STAGE/updater.unsigned.exe"

if [ -n "$PFX$CERT" ]; then
    # Never a prompt: a key without its pass file fails instead of waiting.
    set -- -n "Letterwing Updater" -h sha256
    if [ -n "$PFX" ]; then
        set -- "$@" -pkcs12 "$PFX"
    else
        set -- "$@" -certs "$CERT" -key "$CERT_KEY"
    fi
    [ -z "$PASS_FILE" ] || set -- "$@" -readpass "$PASS_FILE"
    [ -z "$TIMESTAMP" ] || set -- "$@" -ts "$TIMESTAMP"
    osslsigncode sign "$@" -in "$STAGE/updater.unsigned.exe" -out "$STAGE/updater.exe" \
        </dev/null >"$BUILD/sign.log" 2>&1 || { cat "$BUILD/sign.log" >&2; refuse "signing failed"; }
    # The signature must verify as a Windows machine checks it (the digest
    # over the file; the signer's chain up to --ca-file's roots, else the
    # system's; the time stamp's chain), and be all that signing added.
    set --
    [ -z "$CA_FILE" ] || set -- -CAfile "$CA_FILE"
    osslsigncode verify "$@" -in "$STAGE/updater.exe" </dev/null >"$BUILD/verify.log" 2>&1 ||
        { cat "$BUILD/verify.log" >&2; refuse "the signed image does not verify${CA_FILE:+ against $CA_FILE}"; }
    osslsigncode remove-signature -in "$STAGE/updater.exe" -out "$BUILD/unsigned-again.exe" \
        >/dev/null 2>&1 && cmp -s "$BUILD/unsigned-again.exe" "$STAGE/updater.unsigned.exe" ||
        refuse "the signed image is not the built image with a signature added"
    SIGNED="signed with ${PFX:-$CERT}, verified${CA_FILE:+ against $CA_FILE}, NOT time-stamped"
    [ -z "$TIMESTAMP" ] || SIGNED="${SIGNED%, NOT*}, time-stamped by $TIMESTAMP"
else
    cp "$STAGE/updater.unsigned.exe" "$STAGE/updater.exe"
    SIGNED="NOT signed: no certificate was given"
fi

# What the image was built from and with, each from what the build used.
cached() { sed -n "s/^$1:[A-Z]*=//p" "$OUT/CMakeCache.txt"; }
first_line() { "$@" --version 2>/dev/null | head -n 1; }
define() { sed -n "s/^#define $1 \"\\(.*\\)\".*/\\1/p" "$2" | head -n 1; }
package() {
    pkg=$(dpkg-query -S "$1" 2>/dev/null | sed -n '1s/: .*//p')
    [ -n "$pkg" ] && dpkg-query -W -f '${Package} ${Version}' "$pkg" 2>/dev/null || echo "no Debian package"
}
sha() { sha256sum "$1" | cut -d' ' -f1; }
CXX=$(sed -n 's/^set(CMAKE_CXX_COMPILER "\(.*\)")$/\1/p' "$OUT"/CMakeFiles/*/CMakeCXXCompiler.cmake)
LD=$(cached CMAKE_LINKER) ZLIB_H=$(cached MINGW_ZLIB_INCLUDE)/zlib.h
BOOST_H=$(realpath "$OUT/boost-include/boost/version.hpp")
CMAKE=$(command -v cmake)
{
    echo "commit: $COMMIT"
    echo "compiler: $(first_line "$CXX") ($(package "$CXX"))"
    echo "binutils: $(first_line "$LD") ($(package "$LD"))"
    echo "zlib: $(define ZLIB_VERSION "$ZLIB_H") ($(package "$ZLIB_H"))"
    echo "boost: $(define BOOST_LIB_VERSION "$BOOST_H") ($(package "$BOOST_H"))"
    echo "cmake: $(first_line "$CMAKE") ($(package "$CMAKE"))"
    echo "key-sha256: $(sha "$KEY")"
    echo "unsigned-sha256: $(sha "$STAGE/updater.unsigned.exe")"
} >"$STAGE/BUILDINFO"
! grep -Eq '^[a-z0-9-]+: ( |\(|$)' "$STAGE/BUILDINFO" ||
    { cat "$STAGE/BUILDINFO" >&2; refuse "a BUILDINFO field came out empty"; }
(cd "$STAGE" && sha256sum updater.exe updater.unsigned.exe >SHA256SUMS)

# Into place, the sums last: dist holds SHA256SUMS only beside a whole release.
for f in updater.exe updater.unsigned.exe BUILDINFO SHA256SUMS; do
    mv "$STAGE/$f" "$DIST/$f"
done

echo "release: commit $COMMIT, built from an export in $SRC"
echo "release: public key $KEY, SHA-256 $(sha "$KEY")"
echo "release: $DIST/updater.unsigned.exe, SHA-256 $(sha "$DIST/updater.unsigned.exe")"
echo "release: $DIST/updater.exe, $SIGNED"
sed 's/^/release: BUILDINFO: /' "$DIST/BUILDINFO"
sed 's/^/release: SHA256SUMS: /' "$DIST/SHA256SUMS"
