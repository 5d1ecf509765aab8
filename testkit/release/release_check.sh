#!/bin/sh
# scripts/release.sh as a release engineer runs it, from a commit of the
# source tree as it is now (a throwaway repository made here, so that work
# not yet committed is what is tested), with a key pair and a self-signed
# certificate (its key encrypted) made here. The refusals come first and
# must delete nothing; run a signs and verifies; run b, from a clone of its
# own, builds the same unsigned bytes and fails closed at the time stamp
# server that is not there; the signed program still prepares under Wine.
#   release_check.sh <source dir> <packtool> <wine-env.sh> <scratch dir>
set -u
source=$1 packtool=$2 wineenv=$3 scratch=$4
status=0
fail() {
    echo "FAIL: $*"
    status=1
}
rm -rf "$scratch" && mkdir -p "$scratch" || exit 1
cd "$scratch" || exit 1
echo "pass phrase" >pass
"$packtool" keygen release.pem release.blob >/dev/null || exit 1
openssl req -x509 -newkey rsa:2048 -passout file:pass -keyout cert.key -out cert.pem -days 2 \
    -subj "/CN=Letterwing release check" >/dev/null 2>&1 || exit 1
# The repository released from holds the tracked files and the untracked ones
# that are not ignored: what the build of this tree reads.
mkdir repo plain-copy held && touch held/file
git -C "$source" ls-files -z -co --exclude-standard |
    (cd "$source" && tar --null -T - -cf - 2>/dev/null) | tar -xf - -C repo &&
    git init -q repo && git -C repo add -A &&
    git -C repo -c user.name=check -c user.email=check@invalid -c commit.gpgsign=false \
        commit -q -m release-check &&
    git clone -q repo repo2 && git -C repo archive HEAD | tar -xf - -C plain-copy || exit 1

# fails <what it says> <command>: the command fails, saying so. The
# refusals come before anything is built; the checkout is dirty meanwhile, so
# that a run the path rows fail to stop still removes nothing.
fails() {
    want=$1 && shift
    ! "$@" >fails.log 2>&1 && grep -q "$want" fails.log ||
        { cat fails.log; fail "did not fail with \"$want\": $*"; }
}
echo >>repo/README.md
for place in "" . / .. repo "repo/scripts/..//" repo/updater; do
    fails "will not use" repo/scripts/release.sh --key release.blob --build-dir "$place"
    fails "will not use" repo/scripts/release.sh --key release.blob --dist "$place"
done
fails "will not use" repo/scripts/release.sh --key release.blob --build-dir same --dist same
fails "will not use" repo/scripts/release.sh --key release.blob --build-dir a --dist a/dist
fails "will not remove" repo/scripts/release.sh --key release.blob --build-dir held
fails "not committed" repo/scripts/release.sh --key release.blob --build-dir t
git -C repo checkout -q -- README.md
fails "TEST key" repo/scripts/release.sh --key repo/keys/test-signing-key.pub.blob --build-dir t
fails "not the top of a git checkout" plain-copy/scripts/release.sh --key release.blob --build-dir t
[ -f held/file ] && git -C repo diff --quiet HEAD && [ ! -e t ] ||
    fail "a refused run removed or made something"

repo/scripts/release.sh --key release.blob --cert cert.pem --cert-key cert.key \
    --pass-file pass --ca-file cert.pem --build-dir a --dist a.dist >a.log 2>&1 ||
    { cat a.log; fail "release run a failed"; exit 1; }
cat a.log
osslsigncode verify -CAfile cert.pem -in a.dist/updater.exe >verify.log 2>&1 ||
    { cat verify.log; fail "the signature does not verify"; }
[ "$(cd a.dist && sha256sum -c SHA256SUMS | grep -c ': OK$')" = 2 ] ||
    fail "SHA256SUMS does not check both the signed and the unsigned image"
for field in compiler binutils zlib boost cmake key-sha256; do
    grep -q "^$field: [^ ]" a.dist/BUILDINFO || fail "BUILDINFO has no $field"
done
grep -qx "commit: $(git -C repo rev-parse HEAD)" a.dist/BUILDINFO &&
    grep -qx "unsigned-sha256: $(sha256sum <a.dist/updater.unsigned.exe | cut -d' ' -f1)" \
        a.dist/BUILDINFO || fail "BUILDINFO names another commit or image"
python3 - a.dist/updater.unsigned.exe release.blob repo/keys/test-signing-key.pub.blob <<'PY' ||
import sys
image, key, test = (open(p, "rb").read() for p in sys.argv[1:4])
sys.exit(0 if key in image and test not in image else 1)
PY
    fail "the image does not embed the key given (or embeds the test key)"

# Run b signs with a time stamp server that is not there. Its dist holds run
# a's release and a file of the operator's: the failed run must leave the
# file and none of the release.
cp -R a.dist b.dist && touch b.dist/keep
fails "RFC 3161" repo2/scripts/release.sh --key release.blob --cert cert.pem --cert-key cert.key \
    --pass-file pass --timestamp http://127.0.0.1:9/ --build-dir b --dist b.dist
[ "$(ls b.dist)" = keep ] || fail "the failed run left in dist: $(ls b.dist)"
cmp -s a.dist/updater.unsigned.exe b/out/bin/updater.exe ||
    fail "two exports of one commit gave different unsigned images"

# The signed program, in a payload signed with the release key, prepares.
. "$wineenv"
if [ "$WINEARCH" = win32 ]; then
    mkdir -p payload/app stage
    cp a.dist/updater.exe payload/app/updater.exe
    echo "package" >payload/app/letterwing.msi
    "$packtool" build --sub app payload release.pem update.pack >/dev/null ||
        fail "the release's own pack check refused the signed program"
    cp a.dist/updater.exe updater.exe
    winpath() { printf 'Z:%s' "$scratch/$1" | tr '/' '\\'; }
    wine "$scratch/updater.exe" prepare "$(winpath stage)" "$(winpath update.pack)" app
    code=$?
    runonce=$(wine reg query 'HKLM\Software\Microsoft\Windows\CurrentVersion\RunOnce' \
              /v '!letterwing_update_runonce' 2>/dev/null | tr -d '\r')
    wine reg delete 'HKLM\Software\Microsoft\Windows\CurrentVersion\RunOnce' \
        /v '!letterwing_update_runonce' /f >/dev/null 2>&1
    [ "$code" = 0 ] || fail "the signed program's prepare ended with $code"
    case $runonce in *app\\updater.exe*) ;; *) fail "the signed program scheduled nothing" ;; esac
else
    echo "SKIP: the prepare run needs 32-bit Wine; this build's tests run under $WINEARCH"
fi
[ $status = 0 ] && echo "PASS: refused what it must, signed, verified, reproducible, fails closed, prepares"
rm -rf "$scratch"
exit $status
